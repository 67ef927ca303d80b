#include "core/Log.h"

#include <cerrno>
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

void Log::ClearFirstError() {
    firstError_.clear();
    haveFirstError_ = false;
}

std::string Log::FirstError() const { return firstError_; }

void Log::NoteError(const std::string& reason) {
    if (haveFirstError_) return;
    haveFirstError_ = true;
    firstError_ = reason;
    while (!firstError_.empty() && (firstError_.back() == '\n' || firstError_.back() == ' ')) firstError_.pop_back();
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

namespace {

bool LogWrites(const Log& log) { return log.State() == 1 && log.Mask() != 0; }

void Append(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(&out[at], static_cast<size_t>(n) + 1, format, args);
    out.resize(at + static_cast<size_t>(n));
}

}  // namespace

// Both keep errno: a tag is often made between a failed call and the test
// of its errno, and a line's own arguments may still read it.
LogTag::LogTag(const char* format, ...) {
    if (!LogWrites(TheLog())) return;
    const int saved = errno;
    va_list args;
    va_start(args, format);
    Append(tag_, format, args);
    va_end(args);
    errno = saved;
}

void LogTag::Write(int8_t level, const char* kind, const char* format, va_list args) const {
    Log& log = TheLog();
    if (!LogWrites(log) || static_cast<int>(level) > static_cast<int>(log.MaxLevel())) return;
    const int saved = errno;
    std::string line = " . [" + tag_ + "] " + kind;
    Append(line, format, args);
    log.Print(level, "%s", line.c_str());
    errno = saved;
}

void LogTag::ErrorV(const char* format, va_list args) const {
    Log& log = TheLog();
    if (!log.HasFirstError()) {
        const int saved = errno;
        std::string reason;
        va_list copy;
        va_copy(copy, args);
        Append(reason, format, copy);
        va_end(copy);
        log.NoteError(reason);
        errno = saved;
    }
    Write(0, "Error: ", format, args);
}

void LogTag::Error(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    ErrorV(format, args);
    va_end(args);
}

void LogTag::Warning(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Write(2, "Warning: ", format, args);
    va_end(args);
}

void LogTag::Info(int8_t level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Write(level, "Info: ", format, args);
    va_end(args);
}

void LogTag::Line(int8_t level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Write(level, "", format, args);
    va_end(args);
}
