#include "Progress.h"

#include <unistd.h>

ProgressLine::ProgressLine() : terminal_(::isatty(STDOUT_FILENO) == 1) {}

void ProgressLine::Show(const orb::Counters& c, int total) {
    if (terminal_) {
        orb::PrintProgress(c, total);
        return;
    }
    last_ = c;
    total_ = total;
    pending_ = true;
}

void ProgressLine::Finish() {
    if (!pending_) return;
    orb::PrintProgress(last_, total_);
    pending_ = false;
}
