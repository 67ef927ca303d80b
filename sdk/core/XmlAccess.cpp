// The XML access layer: ten document slots addressed by handles 1 to 10,
// each with a current element that node, attribute and comment operations
// act on. Applications never touch TinyXML's objects.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <tinyxml.h>

#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "core/WorkerPool.h"
#include "core/XmlDepth.h"
#include "core/XmlSplit.h"

namespace {

// The document text as the library's own LoadFile prepares it (up to the
// first NUL, each CR LF and lone CR made LF), followed by NUL padding. The
// library skips the whole length of a UTF-8 sequence as soon as it sees its
// lead byte, so a document ending in a cut-short sequence made it step over
// the terminator and read past the end of its buffer; the padding keeps such
// steps inside our text, where they meet a NUL. False when the stream
// cannot be read.
bool ReadPadded(FILE* f, std::string& out) {
    constexpr size_t kPadding = 16;  // a UTF-8 sequence is at most 4 bytes; 4 steps of them
    out.clear();
    struct stat st;
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<size_t>(st.st_size) + kPadding);
    std::vector<char> chunk(65536);
    size_t n = 0;
    bool cr = false, stop = false;
    while (!stop && (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        const char* const data = chunk.data();
        const void* nul = std::memchr(data, 0, n);
        const size_t use = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : n;
        stop = nul != nullptr;
        size_t i = 0;
        if (cr && use > 0) {
            // A CR that ended the last piece takes the LF that starts this one.
            if (data[0] == '\n') i = 1;
            cr = false;
        }
        // Runs without CR are copied whole; each CR becomes a LF and eats
        // the LF right after it.
        while (i < use) {
            const void* found = std::memchr(data + i, '\r', use - i);
            const size_t at = found ? static_cast<size_t>(static_cast<const char*>(found) - data) : use;
            out.append(data + i, at - i);
            if (!found) break;
            out.push_back('\n');
            i = at + 1;
            if (i == use)
                cr = true;
            else if (data[i] == '\n')
                ++i;
        }
    }
    if (std::ferror(f)) return false;
    out.append(kPadding, '\0');
    return true;
}


// The least content worth a second reading thread (SetStreamSplitFrom).
std::atomic<size_t> g_splitFrom{256 * 1024};

// ---- Reading a document one child at a time ---------------------------------
//
// XMLOpenStream walks the document as the library's own parser does (the
// top-level loop, then the content of the first element), with the library
// parsing every node itself; only that loop and the first element's start tag
// are read here. Each child element of the first element is parsed once to
// check it and find where it ends, and dropped; the walk later parses the one
// it moves to as a small document of its own. Anything this reading does not
// follow exactly makes the open fall back to parsing the whole document, which
// reports errors as XMLOpen does.

bool IsXmlWhite(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r'; }

bool IsBomLike(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)));
}

// As the library skips white space: null at the end of the text.
const char* SkipWhite(const char* p, TiXmlEncoding encoding) {
    if (!p || !*p) return nullptr;
    for (;;) {
        if (encoding == TIXML_ENCODING_UTF8 && IsBomLike(p)) {
            p += 3;
        } else if (*p && IsXmlWhite(*p)) {
            ++p;
        } else {
            break;
        }
    }
    return p;
}

bool StartsWith(const char* p, const char* tag, bool ignoreCase) {
    if (!p || !*p) return false;
    for (; *tag; ++p, ++tag) {
        if (!*p) return false;
        const int a = static_cast<unsigned char>(*p), b = static_cast<unsigned char>(*tag);
        if (ignoreCase ? std::tolower(a) != std::tolower(b) : a != b) return false;
    }
    return true;
}

bool NameStart(unsigned char c) { return c >= 127 || std::isalpha(c) || c == '_'; }
bool NameChar(unsigned char c) { return c >= 127 || std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':'; }

// The node the library would make for the text at p (which starts with '<').
TiXmlNode* MakeNode(const char* p, bool& element) {
    element = false;
    if (StartsWith(p, "<?xml", true)) return new TiXmlDeclaration();
    if (StartsWith(p, "<!--", false)) return new TiXmlComment();
    if (StartsWith(p, "<![CDATA[", false)) {
        TiXmlText* text = new TiXmlText("");
        text->SetCDATA(true);
        return text;
    }
    if (StartsWith(p, "<!", false)) return new TiXmlUnknown();
    if (NameStart(static_cast<unsigned char>(p[1]))) {
        element = true;
        return new TiXmlElement("");
    }
    return new TiXmlUnknown();
}

// The end of a start tag at p ("<name" and its attributes), as the library
// reads it: the position after its '>', with empty set for "/>". Null for a
// tag the library would refuse or that is read differently here.
const char* StartTagEnd(const char* p, TiXmlEncoding encoding, std::string& name, bool& empty) {
    if (*p != '<' || !NameStart(static_cast<unsigned char>(p[1]))) return nullptr;
    const char* q = p + 1;
    while (*q && NameChar(static_cast<unsigned char>(*q))) ++q;
    name.assign(p + 1, q);
    for (;;) {
        q = SkipWhite(q, encoding);
        if (!q) return nullptr;
        if (*q == '/') {
            empty = true;
            return q[1] == '>' ? q + 2 : nullptr;
        }
        if (*q == '>') {
            empty = false;
            return q + 1;
        }
        if (!NameStart(static_cast<unsigned char>(*q))) return nullptr;
        while (*q && NameChar(static_cast<unsigned char>(*q))) ++q;
        q = SkipWhite(q, encoding);
        if (!q || *q != '=') return nullptr;
        q = SkipWhite(q + 1, encoding);
        if (!q) return nullptr;
        if (*q == '"' || *q == '\'') {
            const char quote = *q;
            const char* close = std::strchr(q + 1, quote);
            if (!close) return nullptr;
            q = close + 1;
        } else {
            while (*q && !IsXmlWhite(*q) && *q != '/' && *q != '>') {
                if (*q == '"' || *q == '\'') return nullptr;
                ++q;
            }
        }
    }
}

// The library's row and column count, from the start of the text (0-based).
struct Stamp {
    size_t pos = 0;
    int row = 0, col = 0;

    void To(const std::string& text, size_t now, TiXmlEncoding encoding) {
        if (now < pos) *this = Stamp();
        const auto* u = reinterpret_cast<const unsigned char*>(text.data());
        while (pos < now) {
            const unsigned char c = u[pos];
            if (c == 0) return;
            if (c == '\r' || c == '\n') {
                ++row;
                col = 0;
                ++pos;
                if (u[pos] == (c == '\r' ? '\n' : '\r')) ++pos;
            } else if (c == '\t') {
                ++pos;
                col = (col / 4 + 1) * 4;
            } else if (encoding == TIXML_ENCODING_UTF8 && c == 0xEF && u[pos + 1] && u[pos + 2]) {
                if (!IsBomLike(text.data() + pos)) ++col;
                pos += 3;
            } else if (encoding == TIXML_ENCODING_UTF8) {
                int step = TiXmlBase::utf8ByteTable[c];
                if (step == 0) step = 1;
                pos += size_t(step);
                ++col;
            } else {
                ++pos;
                ++col;
            }
        }
    }
};

}  // namespace

struct TrovalisCore::XmlStream {
    std::string text;
    TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN;
    TiXmlElement* root = nullptr;  // in the slot's document, without children
    std::string rootName;
    size_t rootStart = 0;
    // Where each child element of the root starts and ends in text.
    std::deque<std::pair<size_t, size_t>> children;
    size_t index = 0;                      // the child that piece holds
    std::unique_ptr<TiXmlDocument> piece;  // that child, parsed on its own
    Stamp stamp;
    int baseRow = 0, baseCol = 0;  // where that child starts (0-based)

    // Builds doc's top-level nodes as the library would, with the root
    // element's start tag only; false where the whole parse must decide.
    bool Build(TiXmlDocument& doc) {
        const char* base = text.c_str();
        if (IsBomLike(base) && static_cast<unsigned char>(base[1]) == 0xBB) encoding = TIXML_ENCODING_UTF8;
        const char* p = SkipWhite(base, encoding);
        if (!p) return false;
        while (p && *p) {
            if (*p != '<') break;
            bool element = false;
            std::unique_ptr<TiXmlNode> made(MakeNode(p, element));
            if (element && root) {
                // More than one top-level element: rare enough to be read whole.
                return false;
            } else if (element) {
                if (!BuildRoot(doc, p)) return false;
            } else {
                TiXmlNode* node = doc.LinkEndChild(made.release());
                p = node->Parse(p, nullptr, encoding);
                if (!p || doc.Error()) return false;
                if (encoding == TIXML_ENCODING_UNKNOWN && node->ToDeclaration()) {
                    const char* enc = node->ToDeclaration()->Encoding();
                    // The library compares a prefix of the name.
                    encoding = (!*enc || StartsWith(enc, "UTF-8", true) || StartsWith(enc, "UTF8", true))
                                   ? TIXML_ENCODING_UTF8
                                   : TIXML_ENCODING_LEGACY;
                }
            }
            p = SkipWhite(p, encoding);
        }
        return doc.FirstChild() && !doc.Error();
    }

    // The root's start tag parsed by the library, its children checked one by
    // one; p moves past its end tag.
    bool BuildRoot(TiXmlDocument& doc, const char*& p) {
        bool empty = false;
        const char* after = StartTagEnd(p, encoding, rootName, empty);
        if (!after) return false;
        rootStart = static_cast<size_t>(p - text.c_str());
        std::string tag(p, after);
        if (!empty) tag.replace(tag.size() - 1, 1, "/>");
        root = new TiXmlElement("");
        doc.LinkEndChild(root);
        const char* end = root->Parse(tag.c_str(), nullptr, encoding);
        if (!end || *end || doc.Error() || rootName != root->Value()) return false;
        p = empty ? after : CheckChildren(after);
        return p != nullptr;
    }

    // The root's content as the library reads it, up to and past the end
    // tag; every child element is parsed and dropped, its place kept.
    //
    // A large document is read from two places at once: a helper thread
    // starts where a child element seems to start, about halfway, while this
    // thread reads from the start. The library reads a node from where it
    // starts alone, so when this thread arrives exactly at the helper's
    // start, the helper's reading is the one this thread would make, and is
    // taken. When this thread steps past that place instead (it lay inside a
    // comment, a text or a value), the helper's work is dropped.
    const char* CheckChildren(const char* p) {
        const char* base = text.c_str();
        Reading mine{base, encoding, rootName, children};
        const char* split = vlt::ThreadBudget() > 1 ? SplitPoint(p) : nullptr;
        if (!split) return mine.From(p);
        Helper helper(base, encoding, rootName);
        if (!helper.Start(split)) return mine.From(p);
        mine.meet = split;
        mine.cancelOther = &helper.cancel;
        const char* end = mine.From(p);
        if (!mine.met) return end;  // the helper is stopped as it goes
        helper.Finish();
        if (helper.ok) {
            children.insert(children.end(), helper.children.begin(), helper.children.end());
            return helper.end;
        }
        mine.meet = nullptr;  // the helper could not finish: read the rest here
        return mine.From(split);
    }

    // A reading of the root's content from some place, into children.
    struct Reading {
        const char* base;
        TiXmlEncoding encoding;
        const std::string& rootName;
        std::deque<std::pair<size_t, size_t>>& children;
        // Where to stop when a node starts there (met is then set); once
        // passed, cancelOther is set.
        const char* meet = nullptr;
        bool met = false;
        std::atomic<bool>* cancelOther = nullptr;
        // Set by another thread to stop this reading.
        const std::atomic<bool>* cancel = nullptr;

        const char* From(const char* p) {
            TiXmlDocument scratch;
            for (unsigned count = 0;; ++count) {
                if (cancel && count % 64 == 0 && cancel->load(std::memory_order_relaxed)) return nullptr;
                p = SkipWhite(p, encoding);
                if (!p || !*p) return nullptr;
                if (meet && p >= meet) {
                    if (p == meet) {
                        met = true;
                        return p;
                    }
                    meet = nullptr;
                    if (cancelOther) cancelOther->store(true, std::memory_order_relaxed);
                }
                if (*p != '<') {
                    TiXmlText text("");
                    p = text.Parse(p, nullptr, encoding);
                    if (!p) return nullptr;
                    continue;
                }
                if (StartsWith(p, "</", false)) {
                    const std::string endTag = "</" + rootName;
                    if (!StartsWith(p, endTag.c_str(), false)) return nullptr;
                    p = SkipWhite(p + endTag.size(), encoding);
                    return p && *p == '>' ? p + 1 : nullptr;
                }
                bool element = false;
                TiXmlNode* node = scratch.LinkEndChild(MakeNode(p, element));
                const char* start = p;
                p = node->Parse(p, nullptr, encoding);
                if (!p || scratch.Error()) return nullptr;
                if (element) children.emplace_back(static_cast<size_t>(start - base), static_cast<size_t>(p - base));
                scratch.Clear();
            }
        }
    };

    // The reading from the split place, on a thread of its own.
    struct Helper {
        std::deque<std::pair<size_t, size_t>> children;
        Reading reading;
        std::atomic<bool> cancel{false};
        const char* end = nullptr;
        bool ok = false;  // it read to an end (end null: the document is malformed there)
        std::thread thread;

        Helper(const char* base, TiXmlEncoding encoding, const std::string& rootName)
            : reading{base, encoding, rootName, children} {
            reading.cancel = &cancel;
        }
        Helper(const Helper&) = delete;
        Helper& operator=(const Helper&) = delete;
        ~Helper() {
            cancel.store(true, std::memory_order_relaxed);
            Finish();
        }
        bool Start(const char* from) {
            try {
                thread = std::thread([this, from] {
                    try {
                        end = reading.From(from);
                        ok = !cancel.load(std::memory_order_relaxed);
                    } catch (...) {
                        ok = false;  // out of memory: the other thread reads this part itself
                    }
                });
            } catch (const std::system_error&) {
                return false;
            }
            return true;
        }
        void Finish() {
            if (thread.joinable()) thread.join();
        }
    };

    // Where a helper may start reading for the content after p: the first
    // line past the middle that starts (after blanks) with an element's start
    // tag. Null for a text too small to be worth a thread.
    const char* SplitPoint(const char* p) const {
        const char* end = text.c_str() + text.size();  // the padding holds no line break
        if (static_cast<size_t>(end - p) < g_splitFrom.load(std::memory_order_relaxed)) return nullptr;
        const char* q = p + (end - p) / 2;
        const char* limit = q + 64 * 1024 < end ? q + 64 * 1024 : end;
        while (q < limit) {
            q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(limit - q)));
            if (!q) return nullptr;
            ++q;
            while (q < limit && (*q == ' ' || *q == '\t')) ++q;
            if (q + 1 < limit && *q == '<' && NameStart(static_cast<unsigned char>(q[1]))) return q;
        }
        return nullptr;
    }

    // Parses child i on its own; false when it cannot be (never for a
    // document Build accepted).
    bool Load(size_t i) {
        if (i >= children.size()) return false;
        if (piece && index == i) return true;
        piece.reset();
        const size_t start = children[i].first, end = children[i].second;
        stamp.To(text, start, encoding);
        // The library counts a tab to the next multiple of four columns from
        // where its parse starts: the child is parsed from a few bytes before
        // it, an empty declaration ("<!>", "<!  >" or "<!   >") as long as its
        // column modulo four, so that a tab on its first row reaches the stop
        // it reaches in the file. Those bytes, and the one after the child,
        // are put back once it is parsed.
        static const char* const kLead[4] = {"", "<!  >", "<!   >", "<!>"};
        size_t pad = std::strlen(kLead[stamp.col % 4]);
        if (pad > start) pad = 0;  // no room: only a tab on the first row counts differently
        char savedBefore[8];
        std::memcpy(savedBefore, &text[start - pad], pad);
        std::memcpy(&text[start - pad], kLead[stamp.col % 4], pad);
        const char saved = text[end];
        text[end] = '\0';
        std::unique_ptr<TiXmlDocument> doc(new TiXmlDocument());
        doc->Parse(text.c_str() + start - pad, nullptr, encoding);
        text[end] = saved;
        std::memcpy(&text[start - pad], savedBefore, pad);
        if (doc->Error() || !doc->RootElement()) return false;
        piece = std::move(doc);
        index = i;
        baseRow = stamp.row;
        baseCol = stamp.col - static_cast<int>(pad);
        return true;
    }

    TiXmlElement* child() const { return piece ? piece->RootElement() : nullptr; }
};

TrovalisCore::XmlSlot* TrovalisCore::Slot(int handle) {
    if (handle < 1 || handle > kXmlSlots) return nullptr;
    XmlSlot* s = &xml_[handle - 1];
    return s->document ? s : nullptr;
}

TrovalisCore::XmlSlot* TrovalisCore::PointedSlot(int handle, const char* op) {
    XmlSlot* s = Slot(handle);
    if (!s) return nullptr;
    if (!s->current) {
        LogTag("Trovalis.%s(%d)", op, handle - 1).Error("there is not an element pointed.\n");
        return nullptr;
    }
    return s;
}

int TrovalisCore::XMLOpen(const char* file) { return XMLOpenWith(file, false); }

int TrovalisCore::XMLOpenStream(const char* file) { return XMLOpenWith(file, true); }

void SetStreamSplitFrom(size_t bytes) { g_splitFrom.store(bytes); }

int TrovalisCore::XMLOpenWith(const char* file, bool stream) {
    if (!file) return 0;
    int index = -1;
    for (int i = 0; i < kXmlSlots; ++i) {
        if (!xml_[i].document) {
            index = i;
            break;
        }
    }
    const LogTag tag("Trovalis.XMLOpen('%s')", file);
    if (index < 0) {
        tag.Error("reached maximum limit of XML opened(%d)\n", kXmlSlots);
        return 0;
    }
    // Only a regular file is a document: a directory read as one gave the
    // library a length of its own, and a FIFO would block the open. The
    // file is opened once, so what is measured is what is parsed.
    const int fd = files::OpenRegular(file, O_RDONLY);
    FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && !f) ::close(fd);
    std::unique_ptr<TiXmlDocument> doc(new TiXmlDocument(file));
    std::unique_ptr<XmlStream> streamed(new XmlStream());
    std::string& text = streamed->text;
    const bool read = f && ReadPadded(f, text);
    if (f) std::fclose(f);
    // The nesting of the text the parser is given, measured before it parses.
    if (read && !XmlDepthWithin(text.data(), text.size(), kMaxXmlDepth)) {
        tag.Error("%s\n", "elements are nested too deeply");
        return 0;
    }
    bool parsed = false;
    if (read && stream && streamed->Build(*doc)) {
        parsed = true;
    } else if (read) {
        // The whole document at once: what XMLOpen does, and what reports an
        // error in the words and at the place the library gives it.
        std::string whole;
        whole.swap(text);
        streamed.reset();
        doc.reset(new TiXmlDocument(file));
        doc->Parse(whole.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
        parsed = !doc->Error();
    } else {
        streamed.reset();
        doc->SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    }
    if (!parsed) {
        tag.Error("%s\n", doc->ErrorDesc());
        return 0;
    }
    xml_[index].document = doc.release();
    xml_[index].current = nullptr;
    xml_[index].stream = streamed.release();
    return index + 1;
}

bool TrovalisCore::StreamChild(XmlSlot* s, size_t i) {
    if (!s->stream->Load(i)) return false;
    s->current = s->stream->child();
    return s->current != nullptr;
}

bool TrovalisCore::Streamed(XmlSlot* s, const char* op, int handle) {
    if (!s->stream) return false;
    LogTag("Trovalis.%s(%d)", op, handle - 1).Error("the document was opened for reading only.\n");
    return true;
}

int TrovalisCore::XMLNodeLocation(int handle, int* row, int* column) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeLocation");
    if (!s || !row || !column) return 0;
    XmlStream* st = s->stream;
    if (!st) {
        *row = s->current->Row();
        *column = s->current->Column();
        return 1;
    }
    if (s->current == st->root) {
        st->stamp.To(st->text, st->rootStart, st->encoding);
        *row = st->stamp.row + 1;
        *column = st->stamp.col + 1;
        return 1;
    }
    if (!st->piece || s->current->GetDocument() != st->piece.get()) return 0;
    // The child was parsed on its own: its rows count from its first line,
    // where its columns are counted from the last tab stop before it.
    const int r = s->current->Row(), c = s->current->Column();
    *row = st->baseRow + r;
    *column = r == 1 ? st->baseCol + c : c;
    return 1;
}

const TiXmlElement* TrovalisCore::XMLNodeElement(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeElement");
    return s ? s->current : nullptr;
}

int TrovalisCore::XMLCreate(const char* rootName) {
    const LogTag tag("Trovalis.XMLCreate()");
    if (startTick == kNotStarted) {
        tag.Error("Trovalis was not initialized. Aborting the XML load.\n");
        return 0;
    }
    if (!rootName) return 0;
    int index = -1;
    for (int i = 0; i < kXmlSlots; ++i) {
        if (!xml_[i].document) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        tag.Error("reached maximum limit of XML opened(%d)\n", kXmlSlots);
        return 0;
    }
    TiXmlDocument* doc = new TiXmlDocument();
    doc->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", "yes"));
    doc->LinkEndChild(new TiXmlElement(rootName));
    TiXmlElement* root = doc->FirstChildElement();
    if (doc->Error() || !root) {
        tag.Error("%s\n", doc->ErrorDesc());
        delete doc;
        return 0;
    }
    xml_[index].document = doc;
    xml_[index].current = root;
    return index + 1;
}

int TrovalisCore::XMLSave(int handle, const char* file) {
    XmlSlot* s = Slot(handle);
    if (!s || !file || Streamed(s, "XMLSave", handle)) return 0;
    CreatePath(file);
    // The document is printed by the XML library's printer and written here,
    // so that a file that could not be written, or a short write, is a
    // failure rather than a success; a link planted at the document's name
    // is replaced, never written through (FileAccess.h).
    TiXmlPrinter printer;
    s->document->Accept(&printer);
    const int out = files::OpenForWriting(file, 0666);
    if (out < 0) return 0;
    const bool written = files::WriteAll(out, printer.CStr(), printer.Size());
    const bool closed = ::close(out) == 0;
    return written && closed ? 1 : 0;
}

int TrovalisCore::XMLPrint(int handle, std::string* text) {
    XmlSlot* s = Slot(handle);
    if (!s || !text || Streamed(s, "XMLPrint", handle)) return 0;
    TiXmlPrinter printer;
    s->document->Accept(&printer);
    text->assign(printer.CStr(), printer.Size());
    return 1;
}

void TrovalisCore::XMLClose(int handle) {
    XmlSlot* s = Slot(handle);
    if (!s) return;
    delete s->stream;
    s->stream = nullptr;
    delete s->document;
    s->document = nullptr;
    s->current = nullptr;
}

int TrovalisCore::XMLNodePointTo(int handle, int count, ...) {
    XmlSlot* s = Slot(handle);
    if (!s || count < 1) return 0;
    va_list args;
    va_start(args, count);
    TiXmlNode* node = s->document;
    TiXmlElement* found = nullptr;
    XmlStream* st = s->stream;
    const size_t held = st && st->piece ? st->index : 0;
    const bool inPiece = st && st->piece && s->current && s->current->GetDocument() == st->piece.get();
    bool moved = false;
    for (int i = 0; i < count; ++i) {
        const char* name = va_arg(args, const char*);
        found = nullptr;
        if (name && st && node == st->root) {
            // The streamed element's children, one after another.
            for (size_t c = 0; !found && st->Load(c); ++c) {
                moved = true;
                if (std::strcmp(st->child()->Value(), name) == 0) found = st->child();
            }
        } else if (name) {
            found = node->FirstChildElement(name);
        }
        if (!found) break;
        node = found;
    }
    va_end(args);
    if (!found) {
        // The element that was current may have gone with the child it was in.
        if (moved && inPiece) s->current = st->Load(held) ? st->child() : st->root;
        return 0;
    }
    s->current = found;
    return 1;
}

int TrovalisCore::XMLNodeChild(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeChild");
    if (!s) return 0;
    if (s->stream && s->current == s->stream->root) return StreamChild(s, 0) ? 1 : 0;
    TiXmlElement* child = s->current->FirstChildElement();
    if (!child) return 0;
    s->current = child;
    return 1;
}

int TrovalisCore::XMLNodeNext(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeNext");
    if (!s) return 0;
    if (s->stream && s->current == s->stream->child()) {
        const size_t next = s->stream->index + 1;
        if (next >= s->stream->children.size()) return 0;
        return StreamChild(s, next) ? 1 : 0;
    }
    TiXmlElement* next = s->current->NextSiblingElement();
    if (!next) return 0;
    s->current = next;
    return 1;
}

int TrovalisCore::XMLNodeParent(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeParent");
    if (!s) return 0;
    if (s->stream && s->current == s->stream->child()) {
        s->current = s->stream->root;
        return 1;
    }
    TiXmlNode* parent = s->current->Parent();
    TiXmlElement* element = parent ? parent->ToElement() : nullptr;
    if (!element) return 0;
    s->current = element;
    return 1;
}

int TrovalisCore::XMLNodeCreate(int handle, const char* name) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeCreate");
    if (!s || !name || Streamed(s, "XMLNodeCreate", handle)) return 0;
    TiXmlElement temporary(name);
    TiXmlNode* copy = s->current->InsertEndChild(temporary);
    TiXmlElement* element = copy ? copy->ToElement() : nullptr;
    if (!element) return 0;
    s->current = element;
    return 1;
}

const char* TrovalisCore::XMLNodeGetName(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeGetName");
    if (!s) return nullptr;
    return s->current->Value();
}

int TrovalisCore::XMLAttributeSet(int handle, const char* name, const char* value) {
    XmlSlot* s = PointedSlot(handle, "XMLAttributeSet");
    if (!s || !name || !value || Streamed(s, "XMLAttributeSet", handle)) return 0;
    s->current->SetAttribute(name, value);
    return 1;
}

int TrovalisCore::XMLAttributeSet(int handle, const char* name, int value) {
    XmlSlot* s = PointedSlot(handle, "XMLAttributeSet");
    if (!s || !name || Streamed(s, "XMLAttributeSet", handle)) return 0;
    s->current->SetAttribute(name, value);
    return 1;
}

int TrovalisCore::XMLAttributeGet(int handle, const char* name, const char** value) {
    XmlSlot* s = PointedSlot(handle, "XMLAttributeGet");
    if (!s || !name || !value) return 0;
    const char* text = s->current->Attribute(name);
    if (!text) return 0;
    *value = text;
    return 1;
}

int TrovalisCore::XMLAttributeGet(int handle, const char* name, int* value) {
    XmlSlot* s = PointedSlot(handle, "XMLAttributeGet");
    if (!s || !name || !value) return 0;
    const char* text = s->current->Attribute(name);
    int number = 0;
    // "%d": optional blanks and sign, then digits; the rest is ignored.
    if (!text || std::sscanf(text, "%d", &number) != 1) return 0;
    *value = number;
    return 1;
}

int TrovalisCore::XMLCommentSet(int handle, const char* text) {
    XmlSlot* s = PointedSlot(handle, "XMLCommentSet");
    if (!s || !text || Streamed(s, "XMLCommentSet", handle)) return 0;
    TiXmlComment comment;
    comment.SetValue(text);
    TiXmlNode* first = s->current->FirstChild();
    if (first)
        s->current->InsertBeforeChild(first, comment);
    else
        s->current->InsertEndChild(comment);
    return 1;
}
