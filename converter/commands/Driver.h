// The command-line driver: the arguments parsed against the command table
// (CommandTable.h), the SDK started and stopped around the chosen command,
// and --quiet applied to what it prints. Returns the process exit code.
#pragma once

// Exit codes: 0 success (everything asked for was done), 1 failed export or
// import or an unsupported input, 2 no input path or a wrong command line,
// 3 the run completed but one or more resources were not stored, exported or
// updated. Every command uses the same codes.
enum DriverExit { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitIncomplete = 3 };

int RunDriver(int argc, char** argv);
