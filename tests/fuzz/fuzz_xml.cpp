// Arbitrary document text through the XML access layer's reading operations,
// read whole and one child at a time.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "core/Trovalis.h"
#include "core/WorkerPool.h"
#include "core/XmlSplit.h"

namespace {

// The walk's trace: each element reached, with its place and two attributes.
std::string Walk(int (TrovalisCore::*open)(const char*), const std::string& path) {
    const int h = (Trovalis.*open)(path.c_str());
    if (!h) return "refused";
    std::string trace;
    if (Trovalis.XMLNodePointTo(h, 1, "ORB") || Trovalis.XMLNodePointTo(h, 1, "R")) {
        // Walk at most a bounded number of steps: a document may be large.
        int depth = 0;
        for (int steps = 0; steps < 100000; ++steps) {
            const char* name = Trovalis.XMLNodeGetName(h);
            const char* text = nullptr;
            int value = 0, row = 0, column = 0;
            Trovalis.XMLAttributeGet(h, "name", &text);
            Trovalis.XMLAttributeGet(h, "id", &value);
            Trovalis.XMLNodeLocation(h, &row, &column);
            trace += std::string(name ? name : "?") + " " + (text ? text : "-") + " " + std::to_string(value) + " " +
                     std::to_string(row) + ":" + std::to_string(column) + "\n";
            if (Trovalis.XMLNodeChild(h)) {
                ++depth;
                continue;
            }
            while (!Trovalis.XMLNodeNext(h)) {
                if (depth == 0 || !Trovalis.XMLNodeParent(h)) {
                    depth = -1;
                    break;
                }
                --depth;
            }
            if (depth < 0) break;
        }
    }
    Trovalis.XMLClose(h);
    return trace;
}

}  // namespace

// The document read whole and read one child at a time give the same walk;
// read one child at a time, it is read from two places at once (as a large
// document is) whenever a line halfway starts like an element.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    vlt::SetThreadBudget(2);
    SetStreamSplitFrom(16);
    const std::string path = fuzzsupport::WriteScratch("doc.xml", data, size);
    const std::string whole = Walk(&TrovalisCore::XMLOpen, path), streamed = Walk(&TrovalisCore::XMLOpenStream, path);
    if (whole != streamed) {
        std::fprintf(stderr, "the streamed walk differs from the whole one:\n%.2000s\n--- streamed:\n%.2000s\n",
                     whole.c_str(), streamed.c_str());
        std::abort();
    }
    return 0;
}
