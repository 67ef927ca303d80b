// The SDK's single log. Every diagnostic of the library passes through
// Log::Print; the log alone decides whether and where a message is written
// (standard output, a log file, the in-application console). It starts
// inactive, and nothing in the converter activates it.
//
// Messages carry their own layout: a leading " . " and their own "\n".
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct SDL_mutex;

class Log {
public:
    // Output mask bits.
    enum : uint8_t {
        kFile = 2,        // 2 and 4 both select the log file
        kFileAlt = 4,
        kStdout = 8,
        kConsole = 16,
        kCapture = 32,    // an in-memory copy, read back with TakeCaptured (for tests)
    };

    Log();
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void Print(int8_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Activates the log. fileName may be null (no file); a file is created
    // afresh when given and the mask selects it. Returns 1, or 0 when the file
    // could not be opened (the other outputs stay active).
    int Activate(uint8_t maxLevel, uint8_t mask, const char* fileName = nullptr, uint8_t timestamp = 0);
    // Closes the file and clears every setting: the log is inactive again.
    void Deactivate();

    // What was logged to the capture output since the last call.
    std::string TakeCaptured();

    uint8_t State() const { return state_; }
    uint8_t MaxLevel() const { return maxLevel_; }
    uint8_t Mask() const { return mask_; }
    const char* FileName() const { return fileName_; }

private:
    uint8_t state_ = 0;
    uint8_t maxLevel_ = 0;
    uint8_t mask_ = 0;
    FILE* file_ = nullptr;
    char fileName_[256] = {};
    uint8_t timestamp_ = 0;
    SDL_mutex* mutex_ = nullptr;
    std::string captured_;
};

// The process-wide log, constructed before main and destroyed after it.
Log& TheLog();

// Shorthand used everywhere in the SDK.
#define LOG_PRINT(level, ...) TheLog().Print((level), __VA_ARGS__)
