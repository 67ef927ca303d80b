#include <cstdio>
#include <exception>

#include "Driver.h"
#include "core/Trovalis.h"

// Nothing in the converter or the SDK is meant to throw. Should something
// still do so (an allocation that fails, say), the run ends as a failed one
// with a message instead of an abort, and what was made on the way (an
// import's working file among it) is released as the stack unwinds.
int main(int argc, char** argv) {
    try {
        return RunDriver(argc, argv);
    } catch (const std::exception& e) {
        std::printf("\n - Error: the run stopped on an internal failure (%s).\n", e.what());
    } catch (...) {
        std::printf("\n - Error: the run stopped on an internal failure.\n");
    }
    try {
        if (Trovalis.IsInitialized()) Trovalis.Quit();
    } catch (...) {
    }
    std::fflush(stdout);
    return kExitFailed;
}
