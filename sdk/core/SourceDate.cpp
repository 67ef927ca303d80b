#include "core/SourceDate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace reproducible {

bool SourceDate(std::time_t& when) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return false;
    const size_t n = std::strlen(text);
    if (n > 12) return false;
    long long value = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    when = static_cast<std::time_t>(value);
    return true;
}

std::string DateText() {
    std::time_t when = 0;
    std::tm parts{};
    const bool fixed = SourceDate(when);
    if (!fixed) when = std::time(nullptr);
    if (!(fixed ? gmtime_r(&when, &parts) : localtime_r(&when, &parts))) return std::string();
    // The asctime layout, through strftime in the C locale (the SDK never
    // changes it), so that the names are English.
    char text[64];
    if (parts.tm_year > 9999 - 1900 || std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &parts) == 0)
        return std::string();
    return text;
}

uint32_t Seed(const void* data, std::size_t size, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ p[i]) * 16777619u;
    return seed;
}

uint32_t Next(uint32_t& state) {
    // xorshift32; a zero state would stay zero.
    if (state == 0) state = 0x9E3779B9u;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace reproducible
