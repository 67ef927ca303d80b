#include "Driver.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Converter.h"
#include "ExportKinds.h"
#include "ImportRun.h"
#include "core/Trovalis.h"

namespace {

void PrintBanner() {
    const std::string rule(57, '-');
    std::printf("%s\n", rule.c_str());
    std::printf("Bundlex v%s - VLT resources export to XML and vice versa\n", "2.0");
    std::printf("   (c) 2025-2026 the Bundlex developers - built on the Trovalis SDK\n");
    std::printf("%s\n\n", rule.c_str());
    std::printf(" Export VLT resources to a XML file using Quillmark Interchange\n");
    std::printf(" XML v1.0 format(ORBv1) or import a ORBv1 format into a VLT\n");
}

// The extension of the last path component, from its last '.', lower-cased;
// empty when there is none. Kept whole whatever its length: a long extension
// simply matches neither ".vlt" nor ".xml".
std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string ext = last.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace


int RunDriver(int argc, char** argv) {
    // The package commands are recognised only by their option in the first
    // place; every other command line is the two-path form, unchanged.
    if (argc > 1 && IsCommandOption(argv[1])) return RunCommand(argc, argv);
    // "--" first lets an input path that starts with "--" through;
    // "--allow-outside" before it lets the document read payloads outside
    // its folder, and "--force" lets an export replace files changed since
    // an earlier export wrote them.
    ImportOptions options;
    bool force = false;
    std::vector<const char*> paths;
    bool optionsEnd = false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (!optionsEnd && std::strcmp(argv[i], "--allow-outside") == 0) {
            options.allowOutside = true;
        } else if (!optionsEnd && std::strcmp(argv[i], "--force") == 0) {
            force = true;
        } else if (!optionsEnd && paths.empty() && std::strcmp(argv[i], "--") == 0) {
            optionsEnd = true;
        } else {
            paths.push_back(argv[i]);
        }
    }

    PrintBanner();
    if (paths.empty()) {
        std::printf(" Usage: Bundlex.exe input.[xml|vlt] [output.vlt|output.xml]\n\n");
        std::fflush(stdout);
        return kExitUsage;
    }
    const char* input = paths[0];
    const char* output = paths.size() > 1 ? paths[1] : nullptr;
    const std::string ext = LowerExtension(input);

    Trovalis.Init(0);  // the work is attempted whatever Init returns
    int code = kExitOk;
    RunOutcome outcome;
    if (ext == ".vlt") {
        std::printf(" - Processing blocks...\n");
        std::fflush(stdout);
        if (ExportSelected(input, output, nullptr, &outcome, nullptr, force)) {
            std::printf("\n - VLT exported successfully to a XML + gfx resources.\n");
            if (outcome.failed > 0) code = kExitIncomplete;
        } else {
            std::printf("\n - Error! the VLT was not exported.\n");
            code = kExitFailed;
        }
    } else if (ext == ".xml") {
        std::printf(" - Processing blocks...\n");
        std::fflush(stdout);
        if (ImportDocumentWith(input, output, options, &outcome, nullptr)) {
            std::printf("\n - XML imported successfully into a new VLT.\n");
            if (outcome.failed > 0) code = kExitIncomplete;
        } else {
            std::printf("\n - Error! the XML was not imported.\n");
            code = kExitFailed;
        }
    } else {
        std::printf(" - Error: input file it is not supported. Try with a VLT or XML (ORBv1 format) file\n");
        code = kExitFailed;
    }
    Trovalis.Quit();
    std::fflush(stdout);
    return code;
}
