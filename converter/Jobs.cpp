#include "Jobs.h"

#include <cstdio>
#include <cstdlib>

#include "SafeText.h"
#include "package/IStuffVLT.h"

bool ReadJobs(const char* value, unsigned& jobs) {
    if (!value || *value < '0' || *value > '9') return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(value, &end, 10);
    if (*end || n < 1 || n > 256) return false;
    jobs = static_cast<unsigned>(n);
    return true;
}

void ReportBadJobs(const char* value) {
    if (value)
        std::fprintf(stderr, "bundlex: --jobs needs a number from 1 to 256, not '%s' (see bundlex --help)\n",
                     SafeText(value, SafeStyle::Masked).c_str());
    else
        std::fprintf(stderr, "bundlex: --jobs needs a number from 1 to 256 (see bundlex --help)\n");
}

void UseJobs(unsigned jobs) { IStuffVLT::SetJobs(jobs); }
