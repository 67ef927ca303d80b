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
