// A small JSON writer for the command reports (--list, --verify, --check
// with --json). It builds one document in memory, indented by two blanks,
// and never produces invalid JSON from untrusted text:
//  - quotes, backslashes and every control character are escaped
//    (\" \\ \b \f \n \r \t, the rest as \u00XX, DEL as \u007f);
//  - block names are 8-bit texts from a package: well-formed UTF-8 is kept
//    (C1 controls escaped), and every byte that is not part of well-formed
//    UTF-8 is read as Latin-1 and written as \u00XX, so the result is always
//    valid Unicode.
// Misuse (a value where a key is due, an End without a Begin) is a
// programming error; the writer then still closes what it can and reports
// the document as not well formed through complete().
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace json {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at pos,
// with its code point; 0 when the bytes there are not one (overlong forms,
// surrogates and code points above U+10FFFF included).
size_t Utf8SequenceAt(const std::string& bytes, size_t pos, uint32_t& codePoint);

// The quoted JSON string of bytes, escaped as described above.
std::string Quote(const std::string& bytes);

class Writer {
public:
    Writer& BeginObject();
    Writer& EndObject();
    Writer& BeginArray();
    Writer& EndArray();
    Writer& Key(const std::string& key);
    Writer& String(const std::string& value);
    Writer& Int(int64_t value);
    Writer& Uint(uint64_t value);
    // A number with a fraction (shortest form of up to 15 digits); null for
    // a value that is not finite, which JSON cannot hold.
    Writer& Number(double value);
    Writer& Bool(bool value);
    Writer& Null();

    // Key and value in one call.
    Writer& Field(const std::string& key, const std::string& value) { return Key(key).String(value); }
    Writer& Field(const std::string& key, const char* value) { return Key(key).String(value ? value : ""); }
    Writer& Field(const std::string& key, int value) { return Key(key).Int(value); }
    Writer& Field(const std::string& key, int64_t value) { return Key(key).Int(value); }
    Writer& Field(const std::string& key, uint32_t value) { return Key(key).Uint(value); }
    Writer& Field(const std::string& key, uint64_t value) { return Key(key).Uint(value); }
    Writer& Field(const std::string& key, bool value) { return Key(key).Bool(value); }

    // True when exactly one value was written, every container is closed
    // and no call was out of place.
    bool complete() const { return stack_.empty() && values_ == 1 && !misused_; }
    // The document followed by a line end.
    std::string str() const { return out_ + "\n"; }
    // The text written since the last call, handed over and forgotten (a
    // long document written out piece by piece; str() then gives the rest).
    std::string Take() {
        std::string text;
        text.swap(out_);
        return text;
    }

private:
    struct Level {
        bool object;
        int count;
        bool keyPending;
    };
    // Separator and indentation before a value (or a key in an object).
    bool BeforeValue();
    void Newline();
    Writer& Close(bool object);

    std::string out_;
    std::vector<Level> stack_;
    int values_ = 0;  // values written at the top level
    bool misused_ = false;
};

}  // namespace json
