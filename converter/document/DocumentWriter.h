// The export's document, written as the export walks instead of built as a
// tree and printed at the end: a package of a million blocks no longer holds
// a million elements in memory.
//
// The bytes are those of the XML library's printer for the same tree: the
// declaration line, one element per line indented by four spaces a level,
// attributes in the order set, an element without children closed with
// " />", and values escaped as that printer escapes them ("&amp;", "&lt;",
// "&gt;", "&quot;", "&apos;", every byte below 0x20 as "&#xNN;", other bytes
// as they are; a value holding '"' is quoted with '\'').
//
// The root's start tag carries the element count, known only at the end, so
// the elements below it are kept aside (in memory, then in a file without a
// name beside the document once they grow large) and the document is put
// together when it is saved.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "OutputFolder.h"

namespace orb {

class DocumentWriter {
public:
    // root: the root's tag; comment: the text of the comment that opens it.
    DocumentWriter(const char* root, const char* comment);
    ~DocumentWriter();
    DocumentWriter(const DocumentWriter&) = delete;
    DocumentWriter& operator=(const DocumentWriter&) = delete;

    // Where the kept-aside elements go once they outgrow keepInMemory bytes
    // (the output set's scratch file); without one they stay in memory.
    static constexpr size_t kKeepInMemory = size_t(1) << 20;
    void SpillTo(outwrite::OutputSet* files, size_t keepInMemory = kKeepInMemory) {
        files_ = files;
        keepInMemory_ = keepInMemory;
    }

    // An attribute of the root (in the order set; setting a name again
    // replaces its value in place).
    void SetRootAttribute(const char* name, const std::string& value);
    // A child of the current element (the root at first) becomes current.
    void Open(const char* tag);
    // The current element's attribute, as for the root.
    void SetAttribute(const char* name, const std::string& value);
    void SetAttribute(const char* name, int value);
    // The current element's parent becomes current (nothing above the root).
    void Close();

    // False once keeping the elements aside failed (the output set says why).
    bool ok() const { return ok_; }
    // Hands the whole document to sink; false when a piece could not be read
    // back or written.
    bool WriteTo(const outwrite::Sink& sink);

    // One attribute as the printer writes it: name="value" (or name='value').
    static void AppendAttribute(std::string& out, const char* name, const std::string& value);

private:
    struct Pending {
        std::string tag;
        std::vector<std::pair<std::string, std::string>> attributes;
    };
    static void Set(std::vector<std::pair<std::string, std::string>>& list, const char* name, const std::string& value);
    // Writes the current element's start tag, with ">" when it has children
    // to come, " />" when it has none.
    void FlushStart(bool children);
    void Indent(size_t depth);
    void Keep();  // moves what is in memory to the scratch file when it has grown

    std::string root_, comment_;
    std::vector<std::pair<std::string, std::string>> rootAttributes_;
    std::vector<std::string> open_;  // the tags of the open elements below the root
    Pending pending_;                // the current element, while its start tag is not written
    bool hasPending_ = false;
    std::string body_;  // what is written below the root and kept in memory
    outwrite::OutputSet* files_ = nullptr;
    size_t keepInMemory_ = kKeepInMemory;
    int scratch_ = -1;
    unsigned long long spilled_ = 0;  // bytes in the scratch file
    bool ok_ = true;
};

}  // namespace orb
