// Processor tables, code-path selection and the copy routines.

#include <cstring>
#include <numeric>
#include <vector>

#include "Support.h"
#include "core/CpuFeatures.h"
#include "core/Trovalis.h"

using namespace testsupport;

namespace {
CpuIdentity Cpu(const char* vendor, int family, int model, int ext = 0, bool mmx = true, bool sse = true) {
    CpuIdentity id;
    id.hasCpuid = true;
    id.vendor = vendor;
    id.maxLeaf = 13;
    id.family = family;
    id.model = model;
    id.extendedModel = ext;
    id.mmx = mmx;
    id.sse = sse;
    return id;
}
std::string Joined(const CpuReport& r) {
    std::string s;
    for (const auto& p : r.pieces) s += p;
    return s;
}
}  // namespace

TEST(CpuTables, NamesAndCodePathsOfRepresentativeProcessors) {
    struct Case {
        CpuIdentity id;
        std::string line;
        int path;
    } cases[] = {
        {Cpu("GenuineIntel", 6, 10), " . Running on INTEL processor - Core i7 (Sandy Bridge) - MMX - SSE\n", 21},
        {Cpu("AuthenticAMD", 15, 2, 4), " . Running on AMD processor - Phenom X3/X4- MMX - SSE\n", 19},
        {Cpu("GenuineIntel", 15, 0), " . Running on INTEL processor - Pentium 4(Willamette) - MMX - SSE\n", 0},
        {Cpu("GenuineIntel", 6, 7, 1), " . Running on INTEL processor - Core 2 Dual core - MMX - SSE\n", 20},
        {Cpu("GenuineIntel", 6, 7, 0), " . Running on INTEL processor - Pentium III - MMX - SSE\n", 14},
        {Cpu("GenuineIntel", 6, 11, 2), " . Running on INTEL processor - Pentium (2-11) - MMX - SSE\n", 0},
        {Cpu("AuthenticAMD", 6, 12), " . Running on AMD processor - Duron/Athlon (12)- MMX - SSE\n", 10},
        {Cpu("AuthenticAMD", 5, 4, 0, true, false), " . Running on AMD processor - K5/K6 (4) - MMX\n", 0},
        {Cpu("AuthenticAMD", 16, 1, 3), " . Running on AMD processor - Family 16 - Model: 3-1 - MMX - SSE\n", 0},
        {Cpu("CentaurHauls", 6, 9, 1), " . Running on CentaurHauls - Family 6 - Model: 1-9  - MMX - SSE\n", 0},
    };
    for (const auto& c : cases) {
        const CpuReport r = DescribeCpu(c.id, false);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(Joined(r), c.line);
        EXPECT_EQ(r.codePath, c.path) << c.line;
    }
}

TEST(CpuTables, MissingLeafOneOrMmxFailsWithItsMessage) {
    CpuIdentity noLeaf = Cpu("GenuineIntel", 6, 10);
    noLeaf.maxLeaf = 0;
    CpuReport r = DescribeCpu(noLeaf, false);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Joined(r), " . [Trovalis.GetCPUFeatures()] Error: CPUID not available! Your CPU must be 486 or less\n");
    r = DescribeCpu(noLeaf, true);
    EXPECT_EQ(Joined(r), "CPUID not available! A Pentium class processor is required");

    r = DescribeCpu(Cpu("GenuineIntel", 6, 9, 0, false), false);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Joined(r),
              " . Running on INTEL processor - Banias  . [Trovalis.GetCPUFeatures()] Error: MMX not present!.\n");
    r = DescribeCpu(Cpu("GenuineIntel", 6, 9, 0, false), true);
    EXPECT_EQ(Joined(r), "INTEL - Banias MMX not available! MMX instruction set are required");
}

TEST(CpuFeatures, BufferVariantUsesShortTextsAndNeverWritesPastItsCapacity) {
    EXPECT_EQ(Joined(DescribeCpu(Cpu("AuthenticAMD", 15, 9, 2), true)), "AMD - Athlon64 (Model 2-9) - MMX  - SSE");
    EXPECT_EQ(Joined(DescribeCpu(Cpu("GenuineIntel", 5, 2, 0, true, false), true)), "INTEL - Pentium - MMX ");
    char small[8];
    std::memset(small, 'Z', sizeof small);
    small[0] = '\0';
    Trovalis.GetCPUFeatures(small, 6);
    EXPECT_LT(std::strlen(small), 6u);
    EXPECT_EQ(small[6], 'Z');
}

TEST(CodePaths, EveryValidIdCopiesExactlyLikeMemcpyAndInvalidIdsAreRefused) {
    std::vector<uint8_t> src(3 * 1024 * 1024 + 7);
    std::iota(src.begin(), src.end(), 0);
    for (int id = 0; id <= 25; ++id) {
        const bool valid = (id <= 5) || (id >= 10 && id <= 21);
        EXPECT_EQ(IsValidCodePath(id), valid) << id;
        if (!valid) continue;
        CopyRoutine copy = CodePathRoutine(id);
        for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(257), size_t(1025), size_t(600000), src.size()}) {
            std::vector<uint8_t> dst(n + 1, 0xEE);
            copy(dst.data(), src.data(), n);
            EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + static_cast<long>(n), src.begin())) << id << " " << n;
            EXPECT_EQ(dst[n], 0xEE);
        }
    }
    LogCapture cap;
    const CopyRoutine before = g_CopyRoutine;
    EXPECT_FALSE(SelectCodePath(7));
    EXPECT_EQ(g_CopyRoutine, before);
    EXPECT_EQ(cap.Take(), "");
    EXPECT_TRUE(SelectCodePath(21));
    EXPECT_EQ(cap.Take(), " . Selected 'i5/i7' optimized code path.\n");
}
