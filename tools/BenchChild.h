// What the benchmarks in tools/ share: a piece of work timed in a child
// process of its own, with the SDK started and its standard output silenced.
#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "core/Trovalis.h"

namespace bench {

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system
    long peakKiB = 0;
    bool ok = false;
};

// Waits for the child pid started at start: wall time, processor time,
// peak resident set, and whether it exited with 0.
inline Figures Reaped(pid_t pid, std::chrono::steady_clock::time_point start) {
    Figures f;
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    wait4(pid, &status, 0, &usage);
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuSeconds =
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.peakKiB = usage.ru_maxrss;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

// Runs work in a child process; the child's exit status says whether the
// work succeeded.
inline Figures InChild(const std::function<bool()>& work) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        Trovalis.Init(0);
        const bool ok = work();
        Trovalis.Quit();
        std::fflush(stdout);
        _exit(ok ? 0 : 1);
    }
    return Reaped(pid, start);
}

// Starts a program (argv[0] looked up in PATH) as a process of its own with
// its standard output sent to /dev/null; its pid, or -1.
inline pid_t Spawn(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs a program as a whole process (Spawn): wall time, peak resident set,
// and whether it exited with 0.
inline Figures RunProcess(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(args);
    return pid > 0 ? Reaped(pid, start) : Figures();
}

// Runs programs side by side, each as RunProcess does: the wall time until
// the last one ends, and whether every one exited with 0.
inline Figures RunTogether(const std::vector<std::vector<std::string>>& programs) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> pids;
    for (const std::vector<std::string>& args : programs) pids.push_back(Spawn(args));
    Figures all;
    all.ok = true;
    for (const pid_t pid : pids) {
        const Figures f = pid > 0 ? Reaped(pid, start) : Figures();
        all.ok = all.ok && f.ok;
        all.seconds = std::max(all.seconds, f.seconds);
        all.cpuSeconds += f.cpuSeconds;
        all.peakKiB = std::max(all.peakKiB, f.peakKiB);
    }
    return all;
}

// The median of the values (the upper one of an even count).
inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The folder a benchmark works in: the first argument (made when missing),
// else a fresh one under /tmp. Empty when none could be made.
inline std::string WorkFolder(int argc, char** argv) {
    if (argc > 1) {
        mkdir(argv[1], 0755);
        return argv[1];
    }
    char tmpl[] = "/tmp/bundlex-bench-XXXXXX";
    return mkdtemp(tmpl) ? std::string(tmpl) : std::string();
}

}  // namespace bench
