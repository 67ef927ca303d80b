// Processor identification and the code path it selects: the memory-copy
// routine that surface copy blits use to move pixel rows. The vendor and
// model tables are data, reached through DescribeCpu, a pure function that
// tests can drive with any identification.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the processor queries report.
struct CpuIdentity {
    bool hasCpuid = false;
    std::string vendor;     // 12 characters from CPUID leaf 0
    uint32_t maxLeaf = 0;   // highest standard leaf, 0 when there is none
    int family = 0;         // bits 8-11 of EAX of leaf 1
    int model = 0;          // bits 4-7
    int extendedModel = 0;  // bits 16-19
    bool mmx = false;
    bool sse = false;
};

// The report of one identification: the pieces in order, the code path the
// tables give, and whether the processor is accepted.
struct CpuReport {
    std::vector<std::string> pieces;
    int codePath = 0;
    bool ok = true;
    bool selects = true;  // false without CPUID: only the normal path is selected, nothing reported
};

// bufferForm selects the short texts written into a caller's buffer instead
// of the log's lines.
CpuReport DescribeCpu(const CpuIdentity& id, bool bufferForm);

// The processor queries.
bool CPU_haveCPUID();
uint32_t CPU_GetString(char vendor[13]);
uint32_t CPU_getCPUIDFamily();
CpuIdentity ReadCpuIdentity();

// Code paths 0 to 5 and 10 to 21. Selecting a valid id sets the process-wide
// copy routine and logs its message at level 2; an invalid id returns false,
// logs nothing and leaves the routine unchanged.
using CopyRoutine = void* (*)(void* dst, const void* src, size_t n);
extern CopyRoutine g_CopyRoutine;
bool SelectCodePath(int id);
bool IsValidCodePath(int id);
const char* CodePathMessage(int id);
CopyRoutine CodePathRoutine(int id);
