// Arbitrary document text through the XML access layer's reading operations.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "core/Trovalis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    const std::string path = fuzzsupport::WriteScratch("doc.xml", data, size);
    const int h = Trovalis.XMLOpen(path.c_str());
    if (h) {
        if (Trovalis.XMLNodePointTo(h, 1, "ORB") || Trovalis.XMLNodePointTo(h, 1, "R")) {
            // Walk at most a bounded number of steps: a document may be large.
            int depth = 0;
            for (int steps = 0; steps < 100000; ++steps) {
                const char* name = Trovalis.XMLNodeGetName(h);
                const char* text = nullptr;
                int value = 0;
                Trovalis.XMLAttributeGet(h, "name", &text);
                Trovalis.XMLAttributeGet(h, "id", &value);
                (void)name;
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
    }
    return 0;
}
