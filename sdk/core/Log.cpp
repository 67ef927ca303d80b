#include "core/Log.h"

#include <cstdarg>
#include <cstring>

#include <SDL.h>

#include "core/Trovalis.h"

Log& TheLog() {
    static Log instance;
    return instance;
}

Log::Log() { mutex_ = SDL_CreateMutex(); }

Log::~Log() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    fileName_[0] = 0;
    state_ = maxLevel_ = mask_ = timestamp_ = 0;
    if (mutex_) SDL_DestroyMutex(mutex_);
    mutex_ = nullptr;
}

int Log::Activate(uint8_t maxLevel, uint8_t mask, const char* fileName, uint8_t timestamp) {
    if (mutex_) SDL_mutexP(mutex_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    fileName_[0] = 0;
    int ok = 1;
    if (fileName && *fileName) {
        // The name must fit its field whole: a cut name would write elsewhere.
        if (std::strlen(fileName) < sizeof(fileName_)) {
            std::memcpy(fileName_, fileName, std::strlen(fileName) + 1);
            file_ = std::fopen(fileName_, "w");
        }
        if (!file_) {
            fileName_[0] = 0;
            ok = 0;
        }
    }
    maxLevel_ = maxLevel;
    mask_ = mask;
    timestamp_ = timestamp;
    state_ = 1;
    if (mutex_) SDL_mutexV(mutex_);
    return ok;
}

void Log::Deactivate() {
    if (mutex_) SDL_mutexP(mutex_);
    state_ = 0;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    fileName_[0] = 0;
    maxLevel_ = mask_ = timestamp_ = 0;
    captured_.clear();
    if (mutex_) SDL_mutexV(mutex_);
}

std::string Log::TakeCaptured() {
    if (mutex_) SDL_mutexP(mutex_);
    std::string out;
    out.swap(captured_);
    if (mutex_) SDL_mutexV(mutex_);
    return out;
}

void Log::Print(int8_t level, const char* format, ...) {
    // A dropped message costs these three tests and never takes the lock.
    if (state_ != 1 || mask_ == 0 || static_cast<int>(level) > static_cast<int>(maxLevel_)) return;
    if (mutex_) SDL_mutexP(mutex_);
    va_list args;
    if (mask_ & kStdout) {
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::fflush(stdout);
    }
    if ((mask_ & (kFile | kFileAlt)) && file_) {
        if (timestamp_) {
            const uint32_t elapsed = SDL_GetTicks() - Trovalis.startTick;
            const double seconds = static_cast<double>(static_cast<float>(static_cast<double>(elapsed))) / 1000.0;
            std::fprintf(file_, "{%.3fs}", seconds);
        }
        va_start(args, format);
        std::vfprintf(file_, format, args);
        va_end(args);
        std::fflush(file_);
    }
    // Bit 16 (the in-application console) has no console in this program: dropped.
    if (mask_ & kCapture) {
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n > 0) {
            std::string text(static_cast<size_t>(n) + 1, '\0');
            std::vsnprintf(&text[0], text.size(), format, args);
            text.resize(static_cast<size_t>(n));
            captured_ += text;
        }
        va_end(args);
    }
    if (mutex_) SDL_mutexV(mutex_);
}
