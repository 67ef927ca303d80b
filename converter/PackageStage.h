// Import never writes into the user's package in place: a package's checksum
// is rewritten only when it is closed, so an import that is interrupted
// (killed, disk full, power cut) would leave a package that no longer opens.
// The import works on a new file beside the target instead, a copy of the
// target when one exists, and puts it in place with an atomic rename only
// after it has been closed and opens again; on any failure the target is
// left exactly as it was and the working file is removed.
//
// The working file is named after the target and the process
// ("game.vlt.importing-PID.vlt"). A fatal signal during the stage (a crash,
// Ctrl-C, kill, hang-up) removes it before the process ends; one left anyway
// (killed outright, power cut) is removed by the next stage on the same
// target, once no process with that id exists.
#pragma once
#include <string>

class PackageStage {
public:
    PackageStage() = default;
    ~PackageStage();  // an uncommitted stage is abandoned
    PackageStage(const PackageStage&) = delete;
    PackageStage& operator=(const PackageStage&) = delete;

    // Makes the working file and opens it as a package: the package id, or
    // below 1 on failure (nothing is left behind then).
    int Begin(const std::string& target);
    // Closes the package, checks that the result opens as a package, flushes
    // it to disk and renames it over the target. False on any failure, with
    // the target untouched and the working file removed.
    bool Commit();
    // Closes the package and removes the working file.
    void Abandon();

    const std::string& WorkPath() const { return work_; }

private:
    void RemoveBackup();

    std::string target_;
    std::string workBackup_;  // where a 3.0 upgrade of the copy keeps its original
    std::string work_;
    int id_ = 0;
    bool active_ = false;
};
