// The converter's two entry points. Each returns non-zero for success and 0
// for failure; output may be null, and each derives its own then.
//
// A run that returns success may still have left resources behind (an
// element that could not be rebuilt, a block that could not be exported):
// when outcome is given, it receives how many.
#pragma once

struct RunOutcome {
    int failed = 0;  // resources asked for that were not stored or exported
    int done = 0;    // resources stored or exported
};

int ExportPackage(const char* input, const char* output, RunOutcome* outcome = nullptr);
int ImportDocument(const char* input, const char* output, RunOutcome* outcome = nullptr);

// The converter's console reporter (Report.cpp). A warning: "\n - WARNING: "
// and the text.
void PrintWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// After a resource's warning: one line that says why, in plain words, so
// that the user knows what to do ("\n - Info: <cause>\n"). cause is a full
// sentence of its own with its final period.
void PrintCause(const char* cause);
