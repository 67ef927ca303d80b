#include "SafeText.h"

#include <cstdint>
#include <cstdio>

#include "JsonWriter.h"

std::string SafeText(const std::string& bytes, SafeStyle style) {
    std::string out;
    out.reserve(bytes.size());
    char hex[8];
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t c = static_cast<uint8_t>(bytes[i]);
        if (style == SafeStyle::Masked) {
            out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0x80) {
            uint32_t cp = 0;
            const size_t len = json::Utf8SequenceAt(bytes, i, cp);
            if (len > 0 && cp >= 0xA0) {
                out.append(bytes, i, len);
                i += len;
                continue;
            }
            // Not UTF-8, or a C1 control: every byte of it escaped.
            const size_t n = len > 0 ? len : 1;
            for (size_t k = 0; k < n; ++k) {
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<uint8_t>(bytes[i + k])));
                out += hex;
            }
            i += n;
            continue;
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            out += hex;
        }
        ++i;
    }
    return out;
}

std::string NameForDocument(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    char hex[8];
    size_t i = 0;
    while (i < name.size()) {
        const uint8_t c = static_cast<uint8_t>(name[i]);
        size_t len = 1;
        bool keep = false;
        if (c == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x7F) {
            keep = true;
        } else if (c >= 0x80) {
            uint32_t cp = 0;
            const size_t n = json::Utf8SequenceAt(name, i, cp);
            if (n > 0) len = n;
            keep = n > 0 && cp >= 0xA0 && cp != 0xFFFE && cp != 0xFFFF;
        }
        if (keep) {
            out.append(name, i, len);
        } else {
            for (size_t k = 0; k < len; ++k) {
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<uint8_t>(name[i + k])));
                out += hex;
            }
        }
        i += len;
    }
    return out;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string NameFromDocument(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
                   HexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}
