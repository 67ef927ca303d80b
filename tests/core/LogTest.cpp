// The log: activity, maximum level, outputs and the elapsed-time stamp.

#include <cstdio>

#include "Support.h"
#include "core/Trovalis.h"

using namespace testsupport;

namespace {
struct LogReset {
    ~LogReset() { TheLog().Deactivate(); }
};
}  // namespace

TEST(Log, InactiveLogWritesNothingWhateverTheLevel) {
    LogReset reset;
    TheLog().Deactivate();
    TheLog().Print(0, "dropped %d\n", 1);
    TheLog().Activate(5, Log::kCapture);
    EXPECT_EQ(TheLog().TakeCaptured(), "");
    TheLog().Activate(5, 0);  // active but with no output selected
    TheLog().Print(0, "dropped\n");
    EXPECT_EQ(TheLog().TakeCaptured(), "");
}

TEST(Log, MessageAtTheMaximumLevelIsWrittenAndOneAboveIsDropped) {
    LogReset reset;
    TheLog().Activate(2, Log::kCapture);
    TheLog().Print(2, "warning %s\n", "kept");
    TheLog().Print(5, "trace dropped\n");
    TheLog().Print(0, "error kept\n");
    EXPECT_EQ(TheLog().TakeCaptured(), "warning kept\nerror kept\n");
}

TEST(Log, FileOutputCarriesTheStampBeforeTheMessagesOwnLineEnd) {
    LogReset reset;
    TempDir dir;
    const std::string file = dir / "sdk.log";
    ASSERT_EQ(TheLog().Activate(5, Log::kFileAlt, file.c_str(), 1), 1);
    TheLog().Print(0, "\n . first\n");
    TheLog().Deactivate();
    const auto bytes = ReadFile(file);
    const std::string text(bytes.begin(), bytes.end());
    // "{<seconds>.<3 digits>s}" and then the message with its own leading line end.
    const size_t close = text.find("s}");
    ASSERT_NE(close, std::string::npos) << text;
    const std::string stamp = text.substr(0, close + 2);
    const size_t dot = stamp.find('.');
    ASSERT_EQ(stamp[0], '{') << text;
    ASSERT_NE(dot, std::string::npos) << text;
    EXPECT_EQ(close - dot - 1, 3u) << text;
    EXPECT_EQ(stamp.find_first_not_of("0123456789", 1), dot) << text;
    EXPECT_EQ(text.substr(close + 2), "\n . first\n");
}

TEST(Log, FileMaskWithoutAFileWritesNoFileAndStdoutHasNoStamp) {
    LogReset reset;
    TempDir dir;
    // The mask selects the file, but none is open: nothing fails, nothing is written.
    ASSERT_EQ(TheLog().Activate(5, Log::kFile | Log::kCapture, nullptr, 1), 1);
    TheLog().Print(0, "x\n");
    EXPECT_EQ(TheLog().TakeCaptured(), "x\n");
    // A file that cannot be created is reported by Activate.
    EXPECT_EQ(TheLog().Activate(5, Log::kFile, (dir / "missing/dir/sdk.log").c_str(), 1), 0);
}
