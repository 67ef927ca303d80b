#include "JsonWriter.h"

#include <cmath>
#include <cstdio>

namespace json {

size_t Utf8SequenceAt(const std::string& bytes, size_t pos, uint32_t& codePoint) {
    const size_t n = bytes.size();
    if (pos >= n) return 0;
    const uint8_t b0 = static_cast<uint8_t>(bytes[pos]);
    if (b0 < 0x80) {
        codePoint = b0;
        return 1;
    }
    size_t len = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;  // a continuation byte or 0xF8..0xFF cannot start a sequence
    }
    if (n - pos < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[pos + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    return len;
}

namespace {

void AppendUnicodeEscape(std::string& out, uint32_t cp) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
    out += buf;
}

}  // namespace

std::string Quote(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t c = static_cast<uint8_t>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20 || c == 0x7F)
                        AppendUnicodeEscape(out, c);
                    else
                        out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const size_t len = Utf8SequenceAt(bytes, i, cp);
        if (len == 0) {
            AppendUnicodeEscape(out, c);  // not UTF-8: the byte as Latin-1
            ++i;
        } else if (cp < 0xA0) {
            AppendUnicodeEscape(out, cp);  // C1 control
            i += len;
        } else {
            out.append(bytes, i, len);
            i += len;
        }
    }
    out += '"';
    return out;
}

void Writer::Newline() {
    out_ += '\n';
    out_.append(stack_.size() * 2, ' ');
}

bool Writer::BeforeValue() {
    if (stack_.empty()) {
        if (values_ > 0) {
            misused_ = true;
            return false;
        }
        ++values_;
        return true;
    }
    Level& top = stack_.back();
    if (top.object) {
        if (!top.keyPending) {
            misused_ = true;
            return false;
        }
        top.keyPending = false;
        return true;
    }
    if (top.count++ > 0) out_ += ',';
    Newline();
    return true;
}

Writer& Writer::Key(const std::string& key) {
    if (stack_.empty() || !stack_.back().object || stack_.back().keyPending) {
        misused_ = true;
        return *this;
    }
    Level& top = stack_.back();
    if (top.count++ > 0) out_ += ',';
    Newline();
    out_ += Quote(key);
    out_ += ": ";
    top.keyPending = true;
    return *this;
}

Writer& Writer::BeginObject() {
    if (BeforeValue()) {
        out_ += '{';
        stack_.push_back({true, 0, false});
    }
    return *this;
}

Writer& Writer::BeginArray() {
    if (BeforeValue()) {
        out_ += '[';
        stack_.push_back({false, 0, false});
    }
    return *this;
}

Writer& Writer::Close(bool object) {
    if (stack_.empty() || stack_.back().object != object || stack_.back().keyPending) {
        misused_ = true;
        return *this;
    }
    const bool empty = stack_.back().count == 0;
    stack_.pop_back();
    if (!empty) Newline();
    out_ += object ? '}' : ']';
    return *this;
}

Writer& Writer::EndObject() { return Close(true); }
Writer& Writer::EndArray() { return Close(false); }

Writer& Writer::String(const std::string& value) {
    if (BeforeValue()) out_ += Quote(value);
    return *this;
}

Writer& Writer::Int(int64_t value) {
    if (BeforeValue()) out_ += std::to_string(value);
    return *this;
}

Writer& Writer::Uint(uint64_t value) {
    if (BeforeValue()) out_ += std::to_string(value);
    return *this;
}

Writer& Writer::Number(double value) {
    if (!std::isfinite(value)) return Null();
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    if (BeforeValue()) out_ += text;
    return *this;
}

Writer& Writer::Bool(bool value) {
    if (BeforeValue()) out_ += value ? "true" : "false";
    return *this;
}

Writer& Writer::Null() {
    if (BeforeValue()) out_ += "null";
    return *this;
}

}  // namespace json
