#include "DocumentCheck.h"

#include "core/Trovalis.h"

#include <fcntl.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Attributes.h"
#include "Converter.h"
#include "KindTable.h"
#include "OrbFormat.h"
#include "SafeText.h"
#include "core/FileAccess.h"
#include "core/XmlDepth.h"

namespace {

using orb::Attribute;
using orb::Element;
using orb::Need;
using orb::ValueType;

// The document at path opened for reading, or null.
FILE* OpenText(const char* path) {
    const int fd = files::OpenRegular(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return f;
}

// Whether the document at path is nested no deeper than the parser may
// follow (tooDeep); false when the file cannot be read.
bool DepthWithin(const char* path, bool& tooDeep) {
    FILE* f = OpenText(path);
    if (!f) return false;
    tooDeep = !XmlDepthWithin(f, kMaxXmlDepth);
    std::fclose(f);
    return true;
}

// The document's text, with carriage returns as the parser reads them and
// NUL padding after its end: the parser can step over the terminator of a
// text that ends inside a UTF-8 sequence, and the padding keeps such steps
// inside the text. False when the file cannot be read.
bool ReadText(const char* path, std::string& text, bool& tooDeep) {
    FILE* f = OpenText(path);
    if (!f) return false;
    tooDeep = !XmlDepthWithin(f, kMaxXmlDepth);
    bool ok = !tooDeep && std::fseek(f, 0, SEEK_SET) == 0;
    std::vector<char> chunk(65536);
    bool cr = false;
    size_t n = 0;
    while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        const char* end = static_cast<const char*>(std::memchr(chunk.data(), 0, n));
        const size_t use = end ? static_cast<size_t>(end - chunk.data()) : n;
        for (size_t i = 0; i < use; ++i) {
            const char c = chunk[i];
            if (cr && c == '\n') {
                cr = false;
                continue;
            }
            cr = c == '\r';
            text.push_back(cr ? '\n' : c);
        }
        if (end) break;
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    text.append(16, '\0');
    return ok || tooDeep;
}

// Where the element being checked lies in the whole document: a child
// read on its own counts its rows from its first line, and columns on that
// line from where it starts.
struct Origin {
    int row = 0;
    int column = 0;
};
Origin g_origin;

std::string Place(const TiXmlBase* node) {
    const int row = g_origin.row + node->Row();
    const int column = node->Row() == 1 ? g_origin.column + node->Column() : node->Column();
    return "line " + std::to_string(row) + ", column " + std::to_string(column) + ": ";
}

// The origin of the element the streamed handle points at, from where the
// SDK places it.
void SetOrigin(int handle, const TiXmlElement* e) {
    g_origin = Origin();
    int row = 0, column = 0;
    if (!e || Trovalis.XMLNodeLocation(handle, &row, &column) != 1) return;
    g_origin.row = row - e->Row();
    g_origin.column = e->Row() == 1 ? column - e->Column() : 0;
}

std::string Shown(const char* text) { return SafeText(text ? text : "", SafeStyle::Masked); }

// The number of edits that turn a into b, capped at 3.
size_t Edits(const std::string& a, const std::string& b) {
    if (a.size() > b.size() + 3 || b.size() > a.size() + 3) return 3;
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return std::min<size_t>(row[b.size()], 3);
}

// The words a parent takes, as "a, b or c", and the closest one to what was
// written (" (did you mean \"x\"?)"), or "".
std::string List(const std::vector<std::string>& words, const char* open, const char* close) {
    std::string out;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i) out += i + 1 == words.size() ? " or " : ", ";
        out += open + words[i] + close;
    }
    return out;
}
std::string Suggest(const std::string& written, const std::vector<std::string>& words, const char* open,
                    const char* close) {
    std::string best;
    size_t bestEdits = 3;
    for (const std::string& w : words) {
        const bool prefix = written.size() > w.size() && written.compare(0, w.size(), w) == 0;
        const size_t e = prefix ? 1 : Edits(written, w);
        if (e < bestEdits) {
            best = w;
            bestEdits = e;
        }
    }
    return best.empty() ? std::string() : std::string(" (did you mean ") + open + best + close + "?)";
}

std::vector<const Element*> ChildrenOf(const char* parent) {
    std::vector<const Element*> rows;
    for (const Element* e : orb::AllElements())
        if (std::strcmp(e->parent, parent) == 0) rows.push_back(e);
    return rows;
}

// Whether text is a whole decimal number (blanks around it are taken), and
// its value; false for anything else or a number beyond 64 bits.
bool WholeNumber(const char* text, long long& value) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
    const char* digits = p + (*p == '+' || *p == '-');
    if (*digits < '0' || *digits > '9') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(p, &end, 10);
    if (errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
    return *end == '\0';
}

// The problem of one attribute's value, or "".
std::string ValueProblem(const Attribute& a, const char* value) {
    const std::string its = std::string("its \"") + a.name + "\" (" + Shown(value) + ")";
    if (a.type == ValueType::Enumeration) {
        std::vector<std::string> words(a.words.begin(), a.words.end());
        // Every graphic element takes either spelling of per-surface
        // blending: tiles have always written the second.
        if (std::strcmp(a.name, orb::attr::kAlphaBlending) == 0 &&
            (std::strcmp(value, orb::kPerSurface) == 0 || std::strcmp(value, orb::kTilePerSurface) == 0))
            return std::string();
        for (const std::string& w : words)
            if (w == value) return std::string();
        return its + " is not one of " + List(words, "\"", "\"") + Suggest(value, words, "\"", "\"") + ".";
    }
    if (a.type != ValueType::Integer && a.type != ValueType::Colour) return std::string();
    long long n = 0;
    if (!WholeNumber(value, n))
        return its + " is not a whole number in decimal" +
               (a.type == ValueType::Colour ? " (a colour is 0xRRGGBB written in decimal, -1 for none)." : ".");
    if (!a.words.empty()) {
        std::vector<std::string> words(a.words.begin(), a.words.end());
        for (const std::string& w : words)
            if (std::to_string(n) == w) return std::string();
        return its + " is not one of " + List(words, "", "") + ".";
    }
    if (n < a.min || n > a.max)
        return its + " does not fit: it must lie between " + std::to_string(a.min) + " and " + std::to_string(a.max) +
               ".";
    return std::string();
}

// The problems of one element and, when deep, everything inside it,
// appended to out.
void CheckElement(const TiXmlElement* node, const Element& row, std::vector<std::string>& out, bool deep = true) {
    for (const TiXmlAttribute* a = node->FirstAttribute(); a; a = a->Next()) {
        const Attribute* match = nullptr;
        for (const Attribute& r : row.attributes)
            if (std::strcmp(r.name, a->Name()) == 0) match = &r;
        if (!match) {
            std::vector<std::string> names;
            for (const Attribute& r : row.attributes) names.push_back(r.name);
            out.push_back(Place(a) + "<" + row.tag + "> has no attribute \"" + Shown(a->Name()) + "\"" +
                          Suggest(a->Name(), names, "\"", "\"") + "; it takes " + List(names, "\"", "\"") + ".");
            continue;
        }
        // What only the export writes is not read, whatever it holds.
        if (match->need == Need::WrittenOnly) continue;
        const std::string problem = ValueProblem(*match, a->Value());
        if (!problem.empty()) out.push_back(Place(a) + problem);
    }
    for (const Attribute& r : row.attributes)
        if (r.need == Need::Required && !node->Attribute(r.name))
            out.push_back(Place(node) + "<" + row.tag + "> has no \"" + r.name + "\" attribute, which it needs.");
    if (!deep) return;
    const std::vector<const Element*> rows = ChildrenOf(row.tag);
    for (const TiXmlElement* c = node->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const Element* match = nullptr;
        for (const Element* r : rows)
            if (std::strcmp(r->tag, c->Value()) == 0) match = r;
        if (match) {
            CheckElement(c, *match, out);
            continue;
        }
        std::vector<std::string> tags;
        for (const Element* r : rows) tags.push_back(r->tag);
        out.push_back(
            Place(c) + "<" + Shown(c->Value()) + "> is not an element <" + row.tag + "> holds" +
            Suggest(c->Value(), tags, "<", ">") +
            (tags.empty() ? std::string("; it holds none.") : "; it holds " + List(tags, "<", ">") + " elements."));
    }
}

const std::vector<std::string> kNone;

}  // namespace

DocumentCheck::Result DocumentCheck::Load(const char* path) {
    error_.clear();
    rootProblems_.clear();
    rootCause_.clear();
    children_.clear();
    if (stream_) Trovalis.XMLClose(stream_);
    stream_ = 0;
    if (!path) return Result::Unreadable;
    // The open measures the nesting itself; it is measured here again only
    // to say why a document that cannot be streamed was refused.
    if (CheckStreamed(path)) return Result::Ok;
    bool tooDeep = false;
    if (!DepthWithin(path, tooDeep)) return Result::Unreadable;
    // The whole text is read only to say what is wrong with it.
    std::string text;
    if (!tooDeep && !ReadText(path, text, tooDeep)) return Result::Unreadable;
    if (tooDeep) {
        error_ = "its elements are nested deeper than " + std::to_string(kMaxXmlDepth) + " levels.";
        return Result::Malformed;
    }
    return CheckWhole(text);
}

DocumentCheck::~DocumentCheck() {
    if (stream_) Trovalis.XMLClose(stream_);
}

int DocumentCheck::TakeStream() {
    const int h = stream_;
    stream_ = 0;
    return h;
}

DocumentCheck::Result DocumentCheck::CheckWhole(const std::string& text) {
    g_origin = Origin();
    rootProblems_.clear();
    children_.clear();
    TiXmlDocument doc;
    doc.SetTabSize(1);
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc.Error()) {
        error_ = "line " + std::to_string(doc.ErrorRow()) + ", column " + std::to_string(doc.ErrorCol()) + ": " +
                 Shown(doc.ErrorDesc());
        if (error_.empty() || error_.back() != '.') error_ += ".";
        return Result::Malformed;
    }
    const TiXmlElement* root = doc.FirstChildElement(orb::kRootTag);
    if (!root) {
        // The import says it is no ORBv1 document; this says why.
        for (const TiXmlNode* n = doc.FirstChild(); n && rootCause_.empty(); n = n->NextSibling()) {
            const TiXmlUnknown* u = n->ToUnknown();
            if (u && u->ValueStr().compare(0, 8, "!DOCTYPE") == 0 && u->ValueStr().find('[') != std::string::npos)
                rootCause_ = Place(n) +
                             "a DOCTYPE with declarations inside [ ] cannot be read, and what follows it is lost; "
                             "remove it (an ORBv1 document needs none).";
        }
        const TiXmlElement* other = doc.RootElement();
        if (rootCause_.empty() && other)
            rootCause_ = Place(other) + "the root element is <" + Shown(other->Value()) +
                         ">; an ORBv1 document's root is <ORB version=\"v1\">.";
        if (rootCause_.empty())
            rootCause_ = "the file holds no element; an ORBv1 document's root is <ORB version=\"v1\">.";
        return Result::Ok;
    }
    const std::vector<const Element*> rootRows = ChildrenOf("");
    if (!rootRows.empty()) CheckElement(root, *rootRows.front(), rootProblems_, false);
    // Its children are checked as the import reaches them (CheckCurrent).
    return Result::Ok;
}

bool DocumentCheck::CheckStreamed(const char* path) {
    struct Closer {
        int h;
        ~Closer() {
            if (h) Trovalis.XMLClose(h);
        }
    } doc{Trovalis.XMLOpenStream(path)};
    if (!doc.h || Trovalis.XMLNodePointTo(doc.h, 1, orb::kRootTag) != 1) return false;
    const TiXmlElement* root = Trovalis.XMLNodeElement(doc.h);
    if (!root) return false;
    SetOrigin(doc.h, root);
    const std::vector<const Element*> rootRows = ChildrenOf("");
    if (!rootRows.empty()) CheckElement(root, *rootRows.front(), rootProblems_, false);
    g_origin = Origin();
    stream_ = doc.h;
    doc.h = 0;
    return true;
}

void DocumentCheck::CheckCurrent(int handle, size_t index) {
    children_.clear();
    const TiXmlElement* c = Trovalis.XMLNodeElement(handle);
    SetOrigin(handle, c);
    if (c) CheckChild(index, c);
    g_origin = Origin();
}

void DocumentCheck::CheckChild(size_t index, const TiXmlElement* c) {
    static const std::vector<const Element*> rows = ChildrenOf(orb::kRootTag);
    static const std::vector<std::string> tags = [] {
        std::vector<std::string> t;
        for (const Element* r : rows) t.push_back(r->tag);
        return t;
    }();
    Child child;
    child.tag = c->Value() ? c->Value() : "";
    if (const char* name = c->Attribute(orb::attr::kName)) child.name = name;
    const Element* match = nullptr;
    for (const Element* r : rows)
        if (child.tag == r->tag) match = r;
    if (!match) {
        child.problems.push_back(Place(c) + "<" + Shown(c->Value()) + "> is not an element of an ORBv1 document" +
                                 Suggest(child.tag, tags, "<", ">") + "; the document holds " + List(tags, "<", ">") +
                                 " elements.");
    } else if (child.tag == orb::kWidgetKind.tag()) {
        // The panel: its own attributes, then each widget on its own.
        CheckElement(c, *match, child.problems, false);
        const std::vector<const Element*> inner = ChildrenOf(match->tag);
        for (const TiXmlElement* w = c->FirstChildElement(); w; w = w->NextSiblingElement()) {
            std::vector<std::string> wp;
            const Element* wrow = nullptr;
            for (const Element* r : inner)
                if (std::strcmp(r->tag, w->Value()) == 0) wrow = r;
            if (wrow)
                CheckElement(w, *wrow, wp);
            else
                wp.push_back(Place(w) + "<" + Shown(w->Value()) + "> is not an element <panel> holds" +
                             Suggest(w->Value(), {orb::kWidgetTag}, "<", ">") + "; it holds <widget> elements.");
            child.widgets.push_back(wp);
        }
    } else {
        CheckElement(c, *match, child.problems);
    }
    bool problem = !child.problems.empty();
    for (const std::vector<std::string>& w : child.widgets) problem = problem || !w.empty();
    if (problem) children_[index] = std::move(child);
}

const std::vector<std::string>& DocumentCheck::ChildProblems(size_t index) const {
    const auto it = children_.find(index);
    return it != children_.end() ? it->second.problems : kNone;
}

const std::vector<std::string>& DocumentCheck::WidgetProblems(size_t panel, size_t index) const {
    const auto it = children_.find(panel);
    if (it == children_.end() || index >= it->second.widgets.size()) return kNone;
    return it->second.widgets[index];
}

std::string DocumentCheck::ChildName(size_t index) const {
    const auto it = children_.find(index);
    if (it == children_.end()) return std::string();
    const Child& c = it->second;
    return c.name.empty() ? "<" + c.tag + ">" : NameFromDocument(c.name);
}

std::string DocumentCheck::ChildWord(size_t index) const {
    const auto it = children_.find(index);
    if (it != children_.end())
        for (const orb::KindSpec* kind : orb::KindTable())
            if (it->second.tag == kind->tag()) return kind->word();
    return "element";
}

namespace {

void PrintProblems(const std::vector<std::string>& problems) {
    for (const std::string& p : problems) PrintCause(p.c_str());
}

}  // namespace

bool RefusedByCheck(const DocumentCheck& check, size_t index) {
    const std::vector<std::string>& problems = check.ChildProblems(index);
    if (problems.empty()) return false;
    std::printf("\n - WARNING: problem found importing '%s' %s.\n",
                SafeText(check.ChildName(index), SafeStyle::Masked).c_str(), check.ChildWord(index).c_str());
    PrintProblems(problems);
    return true;
}

bool WidgetRefusedByCheck(const DocumentCheck& check, size_t panel, size_t index, const std::string& name) {
    const std::vector<std::string>& problems = check.WidgetProblems(panel, index);
    if (problems.empty()) return false;
    std::printf("\n - WARNING: problem found importing '%s' panel, widget '%s'.\n", orb::kPanelName,
                SafeText(name, SafeStyle::Masked).c_str());
    PrintProblems(problems);
    return true;
}
