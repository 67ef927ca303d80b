#include "ReferenceTables.h"

#include <climits>
#include <string>

#include "Attributes.h"

namespace orb {

namespace {

std::string Cell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

std::string Number(long long n) {
    if (n == INT_MIN) return "-2147483648";
    if (n == INT_MAX) return "2147483647";
    return std::to_string(n);
}

const char* TypeName(ValueType t) {
    switch (t) {
        case ValueType::Integer: return "integer";
        case ValueType::Enumeration: return "word";
        case ValueType::Colour: return "colour";
        case ValueType::Name: return "name";
        case ValueType::PayloadPath: return "payload path";
        case ValueType::PackagePath: return "package path";
        case ValueType::Text: return "text";
    }
    return "text";
}

std::string Values(const Attribute& a) {
    std::string out;
    if (!a.words.empty()) {
        for (size_t i = 0; i < a.words.size(); ++i) {
            if (i) out += ", ";
            out += a.type == ValueType::Enumeration ? std::string("`") + a.words[i] + "`" : a.words[i];
        }
        return out;
    }
    if (a.type == ValueType::Integer || a.type == ValueType::Colour) return Number(a.min) + " to " + Number(a.max);
    if (a.type == ValueType::Name) return "1 to 31 bytes";
    return "";
}

std::string NeedText(const Attribute& a) {
    switch (a.need) {
        case Need::Required: return "required";
        case Need::Conditional: return std::string("when ") + (a.when ? a.when : "");
        case Need::Optional: return "optional";
        case Need::WrittenOnly: return "written by the export, not read";
    }
    return "";
}

}  // namespace

std::string ReferenceTables() {
    std::string out;
    for (const Element* e : AllElements()) {
        out += "\n### `<" + std::string(e->tag) + ">`";
        out += *e->parent ? std::string(" in `<") + e->parent + ">`\n\n" : std::string(" (the root)\n\n");
        out += std::string(1, static_cast<char>(e->meaning[0] >= 'a' && e->meaning[0] <= 'z' ? e->meaning[0] - 32
                                                                                             : e->meaning[0])) +
               (e->meaning + 1) + ".\n\n";
        out += "| Attribute | Type | Values | Default | Need | Meaning |\n";
        out += "|---|---|---|---|---|---|\n";
        for (const Attribute& a : e->attributes)
            out += "| `" + std::string(a.name) + "` | " + TypeName(a.type) + " | " + Cell(Values(a)) + " | " +
                   Cell(a.fallback ? std::string("`") + a.fallback + "`" : std::string("none")) + " | " +
                   Cell(NeedText(a)) + " | " + Cell(a.meaning) + " |\n";
    }
    return out + "\n";
}

bool WithReferenceTables(const std::string& text, std::string& out) {
    const size_t begin = text.find(kTablesBegin);
    if (begin == std::string::npos) return false;
    const size_t from = begin + std::string(kTablesBegin).size();
    const size_t end = text.find(kTablesEnd, from);
    if (end == std::string::npos) return false;
    out = text.substr(0, from) + "\n" + ReferenceTables() + text.substr(end);
    return true;
}

}  // namespace orb
