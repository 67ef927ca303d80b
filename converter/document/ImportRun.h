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
};

// Returns non-zero once the document's elements were walked and the package
// written (or, for an update that changed nothing, left alone), 0 on an
// early failure, with its console lines printed.
int ImportDocumentWith(const char* input, const char* output, const ImportOptions& options, RunOutcome* outcome,
                       UpdateSummary* summary);
