#include "core/XmlDepth.h"

#include <cstdio>
#include <string>

bool XmlDepthWithin(const char* path, int limit) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return true;  // unreadable: left to the XML library to report
    const bool ok = XmlDepthWithin(f, limit);
    std::fclose(f);
    return ok;
}

bool XmlDepthWithin(FILE* f, int limit) {
    if (!f) return true;
    // States of the scan; `skip` holds the text that ends a comment, CDATA
    // section, processing instruction or declaration being skipped.
    enum { kText, kLess, kBang, kTag, kQuoted } state = kText;
    std::string skip, recent;
    char quote = 0, previous = 0;
    bool closing = false;
    int depth = 0;
    bool ok = true;
    char buf[65536];
    size_t n;
    while (ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        for (size_t i = 0; ok && i < n; ++i) {
            const char c = buf[i];
            if (!skip.empty()) {
                recent += c;
                if (recent.size() > skip.size()) recent.erase(0, recent.size() - skip.size());
                if (recent == skip) skip.clear();
                continue;
            }
            switch (state) {
                case kText:
                    if (c == '<') state = kLess;
                    break;
                case kLess:
                    if (c == '?') {
                        skip = "?>";
                        recent.clear();
                        state = kText;
                    } else if (c == '!') {
                        state = kBang;
                        recent.clear();
                    } else {
                        closing = c == '/';
                        if (!closing && ++depth > limit) ok = false;
                        state = c == '>' ? kText : kTag;
                        previous = c;
                    }
                    break;
                case kBang:
                    // "<!--" comment, "<![CDATA[" section, or a declaration.
                    recent += c;
                    if (recent == "--") {
                        skip = "-->";
                    } else if (recent == "[CDATA[") {
                        skip = "]]>";
                    } else if (std::string("--").compare(0, recent.size(), recent) != 0 &&
                               std::string("[CDATA[").compare(0, recent.size(), recent) != 0) {
                        skip = ">";
                    } else {
                        break;
                    }
                    recent.clear();
                    state = kText;
                    break;
                case kTag:
                    if (c == '"' || c == '\'') {
                        quote = c;
                        state = kQuoted;
                    } else if (c == '>') {
                        if (closing)
                            --depth;
                        else if (previous == '/')
                            --depth;  // an empty element
                        state = kText;
                    }
                    previous = c;
                    break;
                case kQuoted:
                    if (c == quote) state = kTag;
                    previous = c;
                    break;
            }
        }
    }
    return ok;
}
