// XMLOpenStream reads a large document's children from two places at once
// when the thread budget (vlt::SetThreadBudget) allows a second thread. The
// size from which it does so can be lowered, so that tests and the fuzz
// target reach both readings with small documents.
#pragma once
#include <cstddef>

// The least content, in bytes, read from two places; 256 KiB by default.
void SetStreamSplitFrom(size_t bytes);
