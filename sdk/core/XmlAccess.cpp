// The XML access layer: ten document slots addressed by handles 1 to 10,
// each with a current element that node, attribute and comment operations
// act on. Applications never touch TinyXML's objects.
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tinyxml.h>

#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "core/XmlDepth.h"

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
    char chunk[65536];
    size_t n = 0;
    bool cr = false, stop = false;
    while (!stop && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            const char c = chunk[i];
            if (c == 0) {
                stop = true;
                break;
            }
            if (cr && c == '\n') {
                cr = false;
                continue;
            }
            cr = c == '\r';
            out.push_back(cr ? '\n' : c);
        }
    }
    if (std::ferror(f)) return false;
    out.append(kPadding, '\0');
    return true;
}

}  // namespace

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

int TrovalisCore::XMLOpen(const char* file) {
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
    if (f && !XmlDepthWithin(f, kMaxXmlDepth)) {
        std::fclose(f);
        tag.Error("%s\n", "elements are nested too deeply");
        return 0;
    }
    TiXmlDocument* doc = new TiXmlDocument(file);
    std::string text;
    const bool read = f && std::fseek(f, 0, SEEK_SET) == 0 && ReadPadded(f, text);
    if (f) std::fclose(f);
    bool parsed = false;
    if (read) {
        doc->Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
        parsed = !doc->Error();
    } else {
        doc->SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    }
    if (!parsed) {
        tag.Error("%s\n", doc->ErrorDesc());
        delete doc;
        return 0;
    }
    xml_[index].document = doc;
    xml_[index].current = nullptr;
    return index + 1;
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
    if (!s || !file) return 0;
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
    if (!s || !text) return 0;
    TiXmlPrinter printer;
    s->document->Accept(&printer);
    text->assign(printer.CStr(), printer.Size());
    return 1;
}

void TrovalisCore::XMLClose(int handle) {
    XmlSlot* s = Slot(handle);
    if (!s) return;
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
    for (int i = 0; i < count; ++i) {
        const char* name = va_arg(args, const char*);
        found = name ? node->FirstChildElement(name) : nullptr;
        if (!found) break;
        node = found;
    }
    va_end(args);
    if (!found) return 0;
    s->current = found;
    return 1;
}

int TrovalisCore::XMLNodeChild(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeChild");
    if (!s) return 0;
    TiXmlElement* child = s->current->FirstChildElement();
    if (!child) return 0;
    s->current = child;
    return 1;
}

int TrovalisCore::XMLNodeNext(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeNext");
    if (!s) return 0;
    TiXmlElement* next = s->current->NextSiblingElement();
    if (!next) return 0;
    s->current = next;
    return 1;
}

int TrovalisCore::XMLNodeParent(int handle) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeParent");
    if (!s) return 0;
    TiXmlNode* parent = s->current->Parent();
    TiXmlElement* element = parent ? parent->ToElement() : nullptr;
    if (!element) return 0;
    s->current = element;
    return 1;
}

int TrovalisCore::XMLNodeCreate(int handle, const char* name) {
    XmlSlot* s = PointedSlot(handle, "XMLNodeCreate");
    if (!s || !name) return 0;
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
    if (!s || !name || !value) return 0;
    s->current->SetAttribute(name, value);
    return 1;
}

int TrovalisCore::XMLAttributeSet(int handle, const char* name, int value) {
    XmlSlot* s = PointedSlot(handle, "XMLAttributeSet");
    if (!s || !name) return 0;
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
    if (!s || !text) return 0;
    TiXmlComment comment;
    comment.SetValue(text);
    TiXmlNode* first = s->current->FirstChild();
    if (first)
        s->current->InsertBeforeChild(first, comment);
    else
        s->current->InsertEndChild(comment);
    return 1;
}
