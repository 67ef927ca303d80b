// The command-line driver: banner, argument check, SDK start, one unit of
// work, SDK stop. Returns the process exit code. A first argument that
// names a package command (--list, --verify, --check, --help, --version)
// hands the whole command line to RunCommand instead; a first argument "--"
// is dropped, so that an input path may start with "--".
#pragma once

// Exit codes: 0 success (everything asked for was done), 1 failed export or
// import or an unsupported input, 2 no input path, 3 the run completed but one
// or more resources were not stored, exported or updated. The package
// commands (Commands.h) use the same codes, 2 standing for a wrong command
// line.
enum DriverExit { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitIncomplete = 3 };

int RunDriver(int argc, char** argv);
