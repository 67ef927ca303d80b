// The import with its options, for the two-path form (ImportDocument) and
// for --update. An update stores every element as the import does, except
// that a block that exists is compared and replaced rather than refused
// (IStuffVLT::SetUpdating), and that the package is then rewritten with its
// live entries only; an update that changed nothing in a package without
// deleted entries leaves the file as it was, not even rewritten.
#pragma once
#include <cstdint>
#include <string>

#include "Converter.h"

struct ImportOptions {
    bool update = false;
    bool wait = true;             // wait for another writer of the package, else fail
    bool noticeToStderr = false;  // the waiting notice on standard error
    bool allowOutside = false;    // payloads may be read from outside the document's folder
    bool prune = false;           // an update deletes the blocks the document does not name
};

// What an update did, block by block; failed counts elements and widgets.
struct UpdateSummary {
    std::string package;
    int added = 0;
    int replaced = 0;
    int unchanged = 0;
    int failed = 0;
    uint64_t sizeBefore = 0;
    uint64_t sizeAfter = 0;
    bool rewritten = false;
    int notNamed = 0;  // live blocks the document does not name (none stored from it)
    int pruned = 0;    // of those, deleted (prune, and no element failed)
};

// Returns non-zero once the document's elements were walked and the package
// written (or, for an update that changed nothing, left alone), 0 on an
// early failure, with its console lines printed, and 0 when resources failed
// and none could be stored: no package is written then, and an existing one
// is left as it was. An update keeps every block in its place in the
// package's order, a replaced one included; with prune it deletes the blocks
// the document does not name, unless an element failed (whose block the
// document still means).
int ImportDocumentWith(const char* input, const char* output, const ImportOptions& options, RunOutcome* outcome,
                       UpdateSummary* summary);
