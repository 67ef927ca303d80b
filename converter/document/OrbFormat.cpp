#include "OrbFormat.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/SourceDate.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Kinds.h"

namespace orb {

bool TagIs(const char* tag, const char* expected) {
    return tag && std::strncmp(tag, expected, std::strlen(expected)) == 0;
}

bool IsPerPixel(const char* alphablending) { return alphablending && std::strncmp(alphablending, kPerPixel, 9) == 0; }

std::string SafeComponent(const std::string& name) {
    std::string out;
    out.reserve(name.size() + 9);
    bool changed = false;
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
            out += ch;
        } else {
            out += '_';
            changed = true;
        }
    }
    if (changed) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "~%08x",
                      static_cast<unsigned>(Trovalis.CRC32(name.data(), static_cast<int32_t>(name.size()))));
        out += tag;
    }
    return out;
}

namespace {

uint64_t HashOf(const char* key, size_t length) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) h = (h ^ uint8_t(key[i])) * 1099511628211ull;
    return h;
}

}  // namespace

size_t PayloadNamer::Slot(const char* key, size_t length) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = size_t(HashOf(key, length)) & mask;; i = (i + 1) & mask) {
        const uint64_t at = slots_[i];
        if (at == 0) return i;
        const char* taken = text_.At(at - 1);
        if (std::strncmp(taken, key, length) == 0 && taken[length] == '\0') return i;
    }
}

bool PayloadNamer::Take(const std::string& key) {
    // Names hold no NUL (they are made of SafeComponent's characters).
    if ((count_ + 1) * 2 > slots_.size()) {
        std::vector<uint64_t> old;
        old.swap(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
        for (uint64_t at : old)
            if (at != 0) {
                const char* taken = text_.At(at - 1);
                slots_[Slot(taken, std::strlen(taken))] = at;
            }
    }
    const size_t i = Slot(key.data(), key.size());
    if (slots_[i] != 0) return false;
    slots_[i] = text_.Add(key) + 1;
    ++count_;
    return true;
}

std::string PayloadNamer::Make(const std::string& prefix, const std::string& name, const std::string& extension) {
    const std::string stem = prefix + SafeComponent(name);
    std::string candidate = stem + extension;
    for (int n = 2;; ++n) {
        std::string key = candidate;
        for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (Take(key)) return candidate;
        candidate = stem + "~" + std::to_string(n) + extension;
    }
}


std::string DateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    // The asctime layout, written through strftime in the C locale (the
    // program never changes it), so that names are English.
    if (std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y\n", &local) == 0) return "\n";
    return buf;
}

std::string DateText(int package) {
    std::time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) return reproducible::DateText() + "\n";
    char stored[32] = {};
    if (g_pStuffVLT && g_pStuffVLT->GetModified(package, stored) == 1 && std::strlen(stored) == 24) {
        // "Www Mmm dd hh:mm:ss yyyy": letters, digits and the separators in their places.
        static const char kShape[] = "AAA AAA _9 99:99:99 9999";
        bool fits = true;
        for (size_t i = 0; i < 24 && fits; ++i) {
            const unsigned char c = static_cast<unsigned char>(stored[i]);
            switch (kShape[i]) {
                case 'A': fits = std::isalpha(c) != 0; break;
                case '9': fits = std::isdigit(c) != 0; break;
                case '_': fits = c == ' ' || std::isdigit(c); break;
                default: fits = c == static_cast<unsigned char>(kShape[i]);
            }
        }
        if (fits) return std::string(stored) + "\n";
    }
    return DateText();
}

void PrintProgress(const Counters& c, int total) {
    std::printf(" - %d/%d: IMG %d - TIL %d - SPR %d - FNT %d - MUS %d - SND %d - FIL %d - GUI %d\r", c.done, total,
                c.img, c.til, c.spr, c.fnt, c.mus, c.snd, c.fil, c.gui);
}

}  // namespace orb
