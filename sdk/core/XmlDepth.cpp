#include "core/XmlDepth.h"

#include <cstdio>
#include <cstring>
#include <string>

bool XmlDepthScan::Feed(const char* data, size_t n) {
    const char* const end = data + n;
    for (const char* p = data; ok_ && p < end; ++p) {
        const char c = *p;
        if (!skip_.empty()) {
            recent_ += c;
            if (recent_.size() > skip_.size()) recent_.erase(0, recent_.size() - skip_.size());
            if (recent_ == skip_) skip_.clear();
            continue;
        }
        switch (state_) {
            case kText: {
                // Nothing but the next '<' matters in text.
                const void* less = std::memchr(p, '<', static_cast<size_t>(end - p));
                if (!less) return ok_;
                p = static_cast<const char*>(less);
                state_ = kLess;
                break;
            }
            case kLess:
                if (c == '?') {
                    skip_ = "?>";
                    recent_.clear();
                    state_ = kText;
                } else if (c == '!') {
                    state_ = kBang;
                    recent_.clear();
                } else {
                    closing_ = c == '/';
                    if (!closing_ && ++depth_ > limit_) ok_ = false;
                    state_ = c == '>' ? kText : kTag;
                    previous_ = c;
                }
                break;
            case kBang:
                // "<!--" comment, "<![CDATA[" section, or a declaration.
                recent_ += c;
                if (recent_ == "--") {
                    skip_ = "-->";
                } else if (recent_ == "[CDATA[") {
                    skip_ = "]]>";
                } else if (std::string("--").compare(0, recent_.size(), recent_) != 0 &&
                           std::string("[CDATA[").compare(0, recent_.size(), recent_) != 0) {
                    skip_ = ">";
                } else {
                    break;
                }
                recent_.clear();
                state_ = kText;
                break;
            case kTag:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    state_ = kQuoted;
                } else if (c == '>') {
                    if (closing_)
                        --depth_;
                    else if (previous_ == '/')
                        --depth_;  // an empty element
                    state_ = kText;
                }
                previous_ = c;
                break;
            case kQuoted: {
                // Only the closing quote ends a value.
                const void* close = std::memchr(p, quote_, static_cast<size_t>(end - p));
                if (!close) return ok_;
                p = static_cast<const char*>(close);
                state_ = kTag;
                previous_ = quote_;
                break;
            }
        }
    }
    return ok_;
}

bool XmlDepthWithin(const char* path, int limit) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return true;  // unreadable: left to the XML library to report
    const bool ok = XmlDepthWithin(f, limit);
    std::fclose(f);
    return ok;
}

bool XmlDepthWithin(FILE* f, int limit) {
    if (!f) return true;
    XmlDepthScan scan(limit);
    char buf[65536];
    size_t n;
    while (scan.Within() && (n = std::fread(buf, 1, sizeof buf, f)) > 0) scan.Feed(buf, n);
    return scan.Within();
}

bool XmlDepthWithin(const char* data, size_t n, int limit) {
    XmlDepthScan scan(limit);
    return !data || scan.Feed(data, n);
}
