// The XML library parses nested elements recursively, so a hostile document
// nested deeply enough exhausts the stack before any check inside the library
// runs. XMLOpen measures the nesting first and refuses a file nested beyond
// kMaxXmlDepth (an ORBv1 document nests four levels). The scan knows only
// tags, comments, CDATA sections, processing instructions, declarations and
// quoted attribute values.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

constexpr int kMaxXmlDepth = 256;

// The scan fed piece by piece: a text may be cut anywhere between pieces.
class XmlDepthScan {
public:
    explicit XmlDepthScan(int limit) : limit_(limit) {}
    // False once the text so far nests deeper than the limit (and from then
    // on).
    bool Feed(const char* data, size_t n);
    bool Within() const { return ok_; }

private:
    enum State { kText, kLess, kBang, kTag, kQuoted };
    int limit_;
    State state_ = kText;
    // The text that ends a comment, CDATA section, processing instruction or
    // declaration being skipped, and the last characters seen inside it.
    std::string skip_, recent_;
    char quote_ = 0, previous_ = 0;
    bool closing_ = false;
    int depth_ = 0;
    bool ok_ = true;
};

// False when the file nests elements deeper than limit. An unreadable file
// gives true: the XML library then reports it itself.
bool XmlDepthWithin(const char* path, int limit);
// The same over a stream open for reading, from its current position to its
// end; the stream is left open.
bool XmlDepthWithin(FILE* f, int limit);
// The same over a text in memory.
bool XmlDepthWithin(const char* data, size_t n, int limit);
