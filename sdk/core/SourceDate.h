// Reproducible output. When the environment variable SOURCE_DATE_EPOCH holds
// a count of seconds since 1970 (the convention of reproducible builds), the
// SDK and the converter write that time, in UTC, wherever they would write
// the current time, and draw nothing from the clock or from rand(): the same
// content then gives the same bytes on any machine, in any folder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace reproducible {

// True, with the time in when, when SOURCE_DATE_EPOCH is set to a plain
// decimal number of at most 12 digits; false when it is unset, empty or
// anything else (the clock is used then, as without it).
bool SourceDate(std::time_t& when);

// The 24-character asctime text ("Mon Dec  7 08:00:00 2026", no line end)
// of the source date in UTC when there is one, else of the current local
// time. Empty only if the C library cannot format the time.
std::string DateText();

// A 32-bit seed derived from bytes, the same on every machine.
uint32_t Seed(const void* data, std::size_t size, uint32_t seed = 2166136261u);

// The next number of a small generator that gives the same sequence for the
// same seed everywhere (unlike rand()).
uint32_t Next(uint32_t& state);

}  // namespace reproducible
