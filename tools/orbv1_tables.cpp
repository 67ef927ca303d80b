// Rewrites the tables of the document format reference (docs/orbv1.md)
// from the converter's table of elements and attributes, leaving the prose
// around them as it is: orbv1_tables docs/orbv1.md
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "ReferenceTables.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orbv1_tables FILE.md\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string out;
    if (!in || !orb::WithReferenceTables(text.str(), out)) {
        std::fprintf(stderr, "orbv1_tables: %s cannot be read or has no table markers\n", argv[1]);
        return 1;
    }
    const std::string temp = std::string(argv[1]) + ".new";
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << out;
    f.close();
    if (!f || std::rename(temp.c_str(), argv[1]) != 0) {
        std::fprintf(stderr, "orbv1_tables: could not write %s\n", argv[1]);
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}
