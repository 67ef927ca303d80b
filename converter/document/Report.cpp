#include <cstdarg>
#include <cstdio>

#include "Converter.h"

void PrintWarning(const char* format, ...) {
    std::fputs("\n - WARNING: ", stdout);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void PrintCause(const char* cause) { std::printf("\n - Info: %s\n", cause); }
