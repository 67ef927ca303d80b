// The progress line of export and import (" - done/total: IMG ... GUI n\r").
// On a terminal it rewrites itself after every step, each state ending in a
// carriage return that brings the cursor back to its start. Into a pipe or a
// file those returns do not erase anything, and a run over thousands of
// blocks would leave one line of hundreds of kilobytes: there only the last
// state is written, the same text with its carriage return, once per run,
// when Finish is called (the widgets' pass of an export included).
#pragma once
#include "OrbFormat.h"

class ProgressLine {
public:
    // terminal: whether the line may rewrite itself (standard output is a
    // terminal unless the caller says otherwise).
    ProgressLine();
    explicit ProgressLine(bool terminal) : terminal_(terminal) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Show(const orb::Counters& c, int total);
    // Writes the last state shown, when it has not been written yet.
    void Finish();

private:
    bool terminal_;
    bool pending_ = false;
    orb::Counters last_;
    int total_ = 0;
};
