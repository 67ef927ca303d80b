// Import, export and verify of one document with its payload.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "Commands.h"
#include "Converter.h"
#include "FuzzSupport.h"

namespace {

constexpr char kSeparator[] = "\n--payload--\n";
constexpr size_t kMaxPayloadFiles = 8;
constexpr size_t kMaxNameLength = 64;

bool PlainName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength || name[0] == '.') return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) return false;
    return true;
}

// The plain names of the document's "source" attributes (either quote).
std::set<std::string> SourceNames(const std::string& doc) {
    std::set<std::string> names;
    static const char kAttr[] = "source=";
    for (size_t at = doc.find(kAttr); at != std::string::npos && names.size() < kMaxPayloadFiles;
         at = doc.find(kAttr, at + 1)) {
        const size_t open = at + sizeof kAttr - 1;
        if (open >= doc.size() || (doc[open] != '"' && doc[open] != '\'')) continue;
        const size_t close = doc.find(doc[open], open + 1);
        if (close == std::string::npos) break;
        const std::string name = doc.substr(open + 1, close - open - 1);
        if (PlainName(name)) names.insert(name);
    }
    return names;
}

FILE* Discard() {
    static FILE* null = std::fopen("/dev/null", "w");
    return null;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find(kSeparator);
    const std::string doc = input.substr(0, split);
    const std::string payload =
        split == std::string::npos ? std::string() : input.substr(split + sizeof kSeparator - 1);

    const std::string& scratch = fuzzsupport::ScratchDir();
    if (chdir(scratch.c_str()) != 0) return 0;
    const std::string in = fuzzsupport::FreshScratchFolder("in");
    const std::string out = fuzzsupport::FreshScratchFolder("out");
    const std::string docPath =
        fuzzsupport::WriteScratch("doc.xml", reinterpret_cast<const uint8_t*>(doc.data()), doc.size());
    for (const std::string& name : SourceNames(doc))
        fuzzsupport::WriteFile(in + "/" + name, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    if (chdir(in.c_str()) != 0) return 0;

    const std::string package = out + "/fuzz.vlt";
    if (ImportDocument(docPath.c_str(), package.c_str())) {
        ExportPackage(package.c_str(), (out + "/export.xml").c_str());
        if (FILE* sink = Discard()) {
            VerifyPackage(package, false, sink);
            GalleryPackage(package, out + "/gallery.html", false, sink);
        }
    }
    return 0;
}
