#include "core/CpuFeatures.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <SDL.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define TROVALIS_HAVE_CPUID 1
#endif

#include "core/Log.h"
#include "core/Trovalis.h"

// ---- copy routines ---------------------------------------------------------
// Every routine produces exactly the bytes memcpy would; they differ only in
// the size of the blocks they move at a time.
namespace {

template <size_t Block>
void* BlockCopy(void* dst, const void* src, size_t n) {
    auto* d = static_cast<uint8_t*>(dst);
    const auto* s = static_cast<const uint8_t*>(src);
    while (n >= Block) {
        std::memcpy(d, s, Block);
        d += Block;
        s += Block;
        n -= Block;
    }
    if (n) std::memcpy(d, s, n);
    return dst;
}

void* PlainCopy(void* dst, const void* src, size_t n) { return std::memcpy(dst, src, n); }
void* LargeCopy(void* dst, const void* src, size_t n) { return std::memcpy(dst, src, n); }
void* Mmx1Copy(void* d, const void* s, size_t n) { return BlockCopy<32>(d, s, n); }
void* Mmx2Copy(void* d, const void* s, size_t n) { return BlockCopy<64>(d, s, n); }
void* Mmx5Copy(void* d, const void* s, size_t n) {
    auto* dd = static_cast<uint8_t*>(d);
    const auto* ss = static_cast<const uint8_t*>(s);
    size_t done = 0;
    while (n - done >= 64) {
        if (n - done > 512) __builtin_prefetch(ss + done + 512);
        std::memcpy(dd + done, ss + done, 64);
        done += 64;
    }
    if (n > done) std::memcpy(dd + done, ss + done, n - done);
    return d;
}
void* Sse2Copy(void* d, const void* s, size_t n) { return BlockCopy<128>(d, s, n); }
void* AthlonCopy(void* d, const void* s, size_t n) { return n <= 1024 ? BlockCopy<64>(d, s, n) : LargeCopy(d, s, n); }
void* BaniasCopy(void* d, const void* s, size_t n) {
    return n < (1u << 20) ? BlockCopy<64>(d, s, n) : LargeCopy(d, s, n);
}
void* DothanCopy(void* d, const void* s, size_t n) {
    return n < (2u << 20) ? BlockCopy<64>(d, s, n) : LargeCopy(d, s, n);
}
void* P4Copy(void* d, const void* s, size_t n) { return n > 512 ? LargeCopy(d, s, n) : Mmx2Copy(d, s, n); }
void* PrescottCopy(void* d, const void* s, size_t n) { return n > 256 ? LargeCopy(d, s, n) : Mmx2Copy(d, s, n); }

struct CodePath {
    int id;
    const char* message;
    CopyRoutine routine;
};

const CodePath kCodePaths[] = {
    {0, " . Selected normal code path.\n", PlainCopy},
    {1, " . Selected 'MMX-I' optimized code path.\n", Mmx1Copy},
    {2, " . Selected 'MMX-II' optimized code path.\n", Mmx2Copy},
    {3, " . Selected 'MMX-V' optimized code path.\n", Mmx5Copy},
    {4, " . Selected 'SSE-2' optimized code path.\n", Sse2Copy},
    {5, " . Selected 'K7' optimized code path.\n", LargeCopy},
    {10, " . Selected 'Athlon' optimized code path.\n", AthlonCopy},
    {11, " . Selected 'AthlonXP' optimized code path.\n", AthlonCopy},
    {12, " . Selected 'Banias' optimized code path.\n", BaniasCopy},
    {13, " . Selected 'Dothan' optimized code path.\n", DothanCopy},
    {14, " . Selected 'PentiumIII' optimized code path.\n", Mmx2Copy},
    {15, " . Selected 'P4 Willamette' optimized code path.\n", P4Copy},
    {16, " . Selected 'P4 Northwood' optimized code path.\n", P4Copy},
    {17, " . Selected 'P4 Prescott' optimized code path.\n", PrescottCopy},
    {18, " . Selected 'P4 Prescott+' optimized code path.\n", PrescottCopy},
    {19, " . Selected 'Athlon64' optimized code path.\n", AthlonCopy},
    {20, " . Selected 'Core/Core2' optimized code path.\n", Mmx5Copy},
    {21, " . Selected 'i5/i7' optimized code path.\n", Sse2Copy},
};

const CodePath* FindCodePath(int id) {
    for (const auto& p : kCodePaths)
        if (p.id == id) return &p;
    return nullptr;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[128];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

// ---- the vendor and model tables -------------------------------------------
// A model name is either fixed text or a numbered form. Numbered forms take
// the model alone (ModelOnly) or the extended model and the model (ExtModel);
// in the short buffer form they read "(Model " + numbers + ") ".
enum class Numbers { None, ModelOnly, ExtModel, FamilyExtModel };

struct ModelRow {
    int family;
    int modelLow, modelHigh;  // inclusive range; -1, -1 = any model
    int ext;                  // -1 = any; 1 = ext must be 1; -2 = ext must not be 1
    const char* name;         // fixed text or the log form with its numbers
    const char* shortPrefix;  // for numbered forms: the text before "(Model "
    Numbers numbers;
    int codePath;
};

const ModelRow kAmd[] = {
    {5, 0, 3, -1, "- K6 ", nullptr, Numbers::None, 0},
    {5, 6, 7, -1, "- K6 ", nullptr, Numbers::None, 0},
    {5, 4, 5, -1, "- K5/K6 (%d) ", "- K5/K6 ", Numbers::ModelOnly, 0},
    {5, 10, 15, -1, "- K5/K6 (%d) ", "- K5/K6 ", Numbers::ModelOnly, 0},
    {5, 8, 8, -1, "- K6-2 ", nullptr, Numbers::None, 0},
    {5, 9, 9, -1, "- K6-III ", nullptr, Numbers::None, 0},
    {6, 1, 2, -1, "- Athlon ", nullptr, Numbers::None, 10},
    {6, 4, 4, -1, "- Athlon ", nullptr, Numbers::None, 10},
    {6, 3, 3, -1, "- Duron(A) ", nullptr, Numbers::None, 10},
    {6, 6, 6, -1, "- AthlonXP(A) ", nullptr, Numbers::None, 11},
    {6, 7, 7, -1, "- Duron(B) ", nullptr, Numbers::None, 11},
    {6, 8, 8, -1, "- Sempron ", nullptr, Numbers::None, 11},
    {6, 10, 10, -1, "- AthlonXP(B) ", nullptr, Numbers::None, 11},
    {6, -1, -1, -1, "- Duron/Athlon (%d)", "- Duron/Athlon ", Numbers::ModelOnly, 10},
    {15, 2, 2, -1, "- Phenom X3/X4", nullptr, Numbers::None, 19},
    {15, 3, 3, -1, "- Athlon X2 ", nullptr, Numbers::None, 19},
    {15, 11, 11, -1, "- Athlon X2 ", nullptr, Numbers::None, 19},
    {15, -1, -1, -1, "- Athlon64 (%d-%d)", "- Athlon64 ", Numbers::ExtModel, 19},
};

const ModelRow kIntel[] = {
    {5, -1, -1, -1, "- Pentium ", nullptr, Numbers::None, 0},
    {6, 0, 1, -1, "- Pentium Pro ", nullptr, Numbers::None, 0},
    {6, 3, 3, 1, "- Core i5 (Arrandale) ", nullptr, Numbers::None, 21},
    {6, 5, 5, 1, "- Core i5 (Arrandale) ", nullptr, Numbers::None, 21},
    {6, 3, 3, -2, "- Pentium II ", nullptr, Numbers::None, 0},
    {6, 5, 5, -2, "- Pentium II ", nullptr, Numbers::None, 0},
    {6, 6, 6, 1, "- Core 2 Single core ", nullptr, Numbers::None, 20},
    {6, 6, 6, -2, "- Celeron ", nullptr, Numbers::None, 0},
    {6, 7, 8, 1, "- Core 2 Dual core ", nullptr, Numbers::None, 20},
    {6, 7, 8, -2, "- Pentium III ", nullptr, Numbers::None, 14},
    {6, 9, 9, -1, "- Banias ", nullptr, Numbers::None, 12},
    {6, 10, 10, -1, "- Core i7 (Sandy Bridge) ", nullptr, Numbers::None, 21},
    {6, 12, 12, 1, "- Core i7 (Westmere) ", nullptr, Numbers::None, 21},
    {6, 12, 12, -2, "- Atom ", nullptr, Numbers::None, 12},
    {6, 13, 13, -1, "- Dothan ", nullptr, Numbers::None, 13},
    {6, 14, 14, 1, "- Core i7 (Nehalem) ", nullptr, Numbers::None, 21},
    {6, 14, 14, -2, "- Core Duo ", nullptr, Numbers::None, 20},
    {6, 15, 15, -1, "- Core 2 Duo ", nullptr, Numbers::None, 20},
    {6, -1, -1, -1, "- Pentium (%d-%d) ", "- Pentium ", Numbers::ExtModel, 0},
    {15, 0, 1, -1, "- Pentium 4(Willamette) ", nullptr, Numbers::None, 0},
    {15, 2, 2, -1, "- Pentium 4(Northwood) ", nullptr, Numbers::None, 16},
    {15, 3, 3, -1, "- Pentium 4(Prescott) ", nullptr, Numbers::None, 17},
    {15, 4, 4, -1, "- Pentium 4(Prescott+) ", nullptr, Numbers::None, 18},
    {15, 6, 6, -1, "- Pentium 4(DualCore) ", nullptr, Numbers::None, 18},
    {15, -1, -1, -1, "- Pentium 4 (%d-%d) ", "- Pentium 4 ", Numbers::ExtModel, 0},
};

template <size_t N>
const ModelRow* FindRow(const ModelRow (&rows)[N], int family, int model, int ext) {
    for (const auto& r : rows) {
        if (r.family != family) continue;
        if (r.modelLow >= 0 && (model < r.modelLow || model > r.modelHigh)) continue;
        if (r.ext == 1 && ext != 1) continue;
        if (r.ext == -2 && ext == 1) continue;
        return &r;
    }
    return nullptr;
}

std::string RowName(const ModelRow& r, int model, int ext, bool bufferForm) {
    if (r.numbers == Numbers::None) return r.name;
    if (bufferForm) {
        if (r.numbers == Numbers::ModelOnly) return Format("%s(Model %d) ", r.shortPrefix, model);
        return Format("%s(Model %d-%d) ", r.shortPrefix, ext, model);
    }
    if (r.numbers == Numbers::ModelOnly) return Format(r.name, model);
    return Format(r.name, ext, model);
}

}  // namespace

CopyRoutine g_CopyRoutine = PlainCopy;

bool IsValidCodePath(int id) { return FindCodePath(id) != nullptr; }

const char* CodePathMessage(int id) {
    const CodePath* p = FindCodePath(id);
    return p ? p->message : nullptr;
}

CopyRoutine CodePathRoutine(int id) {
    const CodePath* p = FindCodePath(id);
    return p ? p->routine : nullptr;
}

bool SelectCodePath(int id) {
    const CodePath* p = FindCodePath(id);
    if (!p) return false;
    g_CopyRoutine = p->routine;
    LOG_PRINT(2, "%s", p->message);
    return true;
}

CpuReport DescribeCpu(const CpuIdentity& id, bool bufferForm) {
    CpuReport report;
    if (!id.hasCpuid) {
        report.selects = false;
        report.codePath = 0;
        return report;
    }
    if (id.maxLeaf < 1) {
        report.ok = false;
        report.pieces.push_back(
            bufferForm ? "CPUID not available! A Pentium class processor is required"
                       : " . [Trovalis.GetCPUFeatures()] Error: CPUID not available! Your CPU must be 486 or less\n");
        return report;
    }
    const char first = id.vendor.empty() ? '\0' : id.vendor[0];
    const ModelRow* row = nullptr;
    if (first == 'A') {
        report.pieces.push_back(bufferForm ? "AMD " : " . Running on AMD processor ");
        row = FindRow(kAmd, id.family, id.model, id.extendedModel);
    } else if (first == 'G') {
        report.pieces.push_back(bufferForm ? "INTEL " : " . Running on INTEL processor ");
        row = FindRow(kIntel, id.family, id.model, id.extendedModel);
    } else {
        report.pieces.push_back(bufferForm ? id.vendor + " "
                                           : Format(" . Running on %s - Family %d - Model: %d-%d  ", id.vendor.c_str(),
                                                    id.family, id.extendedModel, id.model));
    }
    if (first == 'A' || first == 'G') {
        if (row) {
            report.pieces.push_back(RowName(*row, id.model, id.extendedModel, bufferForm));
            report.codePath = row->codePath;
        } else {
            report.pieces.push_back(Format("- Family %d - Model: %d-%d ", id.family, id.extendedModel, id.model));
        }
    }
    if (!id.mmx) {
        report.ok = false;
        report.pieces.push_back(bufferForm ? "MMX not available! MMX instruction set are required"
                                           : " . [Trovalis.GetCPUFeatures()] Error: MMX not present!.\n");
        return report;
    }
    report.pieces.push_back(bufferForm ? "- MMX " : "- MMX");
    if (id.sse) report.pieces.push_back(" - SSE");
    if (!bufferForm) report.pieces.push_back("\n");
    return report;
}

bool CPU_haveCPUID() {
#ifdef TROVALIS_HAVE_CPUID
    return __get_cpuid_max(0, nullptr) != 0;
#else
    return false;
#endif
}

uint32_t CPU_GetString(char vendor[13]) {
    std::memset(vendor, 0, 13);
#ifdef TROVALIS_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return 0;
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    return a;
#else
    return 0;
#endif
}

uint32_t CPU_getCPUIDFamily() {
#ifdef TROVALIS_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    return a;
#else
    return 0;
#endif
}

CpuIdentity ReadCpuIdentity() {
    CpuIdentity id;
    id.hasCpuid = CPU_haveCPUID();
    if (!id.hasCpuid) return id;
    char vendor[13];
    id.maxLeaf = CPU_GetString(vendor);
    id.vendor = vendor;
    const uint32_t eax = CPU_getCPUIDFamily();
    id.family = static_cast<int>((eax >> 8) & 15);
    id.model = static_cast<int>((eax >> 4) & 15);
    id.extendedModel = static_cast<int>((eax >> 16) & 15);
    id.mmx = SDL_HasMMX() == SDL_TRUE;
    id.sse = SDL_HasSSE() == SDL_TRUE;
    return id;
}

int TrovalisCore::GetCPUFeatures(char* text, size_t capacity) {
    const CpuIdentity id = ReadCpuIdentity();
    const bool bufferForm = text != nullptr;
    const CpuReport report = DescribeCpu(id, bufferForm);
    if (bufferForm) {
        // Append within the caller's capacity, always NUL-terminated.
        size_t used = capacity ? strnlen(text, capacity - 1) : 0;
        for (const auto& piece : report.pieces) {
            for (char c : piece) {
                if (used + 1 >= capacity) break;
                text[used++] = c;
            }
        }
        if (capacity) text[used] = '\0';
        return report.ok ? 1 : 0;
    }
    if (!report.selects) return SelectCodePath(0) ? 1 : 0;
    for (const auto& piece : report.pieces) LOG_PRINT(0, "%s", piece.c_str());
    if (!report.ok) return 0;
    return SelectCodePath(report.codePath) ? 1 : 0;
}
