// The SDK's single log. Every diagnostic of the library passes through
// Log::Print; the log alone decides whether and where a message is written
// (standard output, a log file, the in-application console). It starts
// inactive, and nothing in the converter activates it.
//
// Messages carry their own layout: a leading " . " and their own "\n".
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

struct SDL_mutex;

class Log {
public:
    // Output mask bits.
    enum : uint8_t {
        kFile = 2,  // 2 and 4 both select the log file
        kFileAlt = 4,
        kStdout = 8,
        kConsole = 16,
        kCapture = 32,  // an in-memory copy, read back with TakeCaptured (for tests)
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

    // The reason of the first error line (its text after "Error: ", without
    // the line break) since the last ClearFirstError, kept whether or not the
    // log writes anything: a caller that tells its user in its own words why
    // an SDK operation failed names the SDK's reason through it. Empty when no
    // error was logged since.
    void ClearFirstError();
    std::string FirstError() const;
    bool HasFirstError() const { return haveFirstError_; }
    // Keeps reason as the first error unless one is kept already.
    void NoteError(const std::string& reason);

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
    std::string firstError_;
    bool haveFirstError_ = false;
};

// The process-wide log, constructed before main and destroyed after it.
Log& TheLog();

// Shorthand for lines in a layout of their own (dumps, start-up and
// shut-down texts); an operation's lines go through LogTag.
#define LOG_PRINT(level, ...) TheLog().Print((level), __VA_ARGS__)

// The lines of one operation, all in the log's usual layout:
//   " . [IStuffVLT->Find(3)] Error: the reason\n"
// The tag (the class, the operation and its arguments, without brackets) is
// made once, with the object; Error, Warning and Info write a line under it:
//   const LogTag tag("IStuffVLT->Find(%d)", id);
//   tag.Error("the given VLT is protected and the key was not set.\n");
// A line carries its own "\n", as every message does. The tag is formatted
// only while the log is active (an inactive log writes nothing, and the
// converter never activates it); make the object where the operation starts.
class LogTag {
public:
    explicit LogTag(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // " . [tag] Error: " and the text, at level 0.
    void Error(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Error, then result: a failure check in one line,
    // "if (!surface) return tag.Fail(false, "no surface.\n");".
    template <class T>
    [[gnu::format(printf, 3, 4)]] T Fail(T result, const char* format, ...) const {
        va_list args;
        va_start(args, format);
        ErrorV(format, args);
        va_end(args);
        return result;
    }
    // " . [tag] Warning: " and the text, at level 2.
    void Warning(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // " . [tag] Info: " and the text, at level.
    void Info(int8_t level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // " . [tag] " and the text, at level: the other lines of an interface
    // ("Interfaz created.\n", "Warning! ...", a warning at level 0).
    void Line(int8_t level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

private:
    void ErrorV(const char* format, va_list args) const;
    void Write(int8_t level, const char* kind, const char* format, va_list args) const;
    std::string tag_;
};
