// The command-line driver: banner, argument check, SDK start, one unit of
// work, SDK stop. Returns the process exit code.
#pragma once

// Exit codes: 0 success (warnings included), 1 failed export or import or an
// unsupported input, 2 no input path.
enum DriverExit { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

int RunDriver(int argc, char** argv);
