// bundlex --check: the round-trip fidelity report.
//
// Everything happens in a fresh temporary folder, removed afterwards: the
// package is copied twice there, one copy is exported to an ORBv1 document
// (the export upgrades 1.0 blocks inside that copy, as it does for any
// package it reads) and the document is imported into a new package; the
// other copy is the reference the new package is compared with, resource by
// resource, through the same classes that wrote them. The package itself is
// only ever read, to copy it. A 3.0 package is upgraded on its copies, by
// the package manager, beside them in the folder.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Converter.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "PackageStage.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/Kinds.h"
#include "resources/PixelFormatRecord.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

namespace {

using namespace commands;


const char* const kOriginalFails = "the original does not load, so it cannot be carried";
const char* const kCopyFails = "it does not load after the round trip";

struct Difference {
    uint64_t index;
    const Entry* entry;
    std::string what;
};

// The live entries of a package by (name, type).
std::map<std::pair<std::string, std::string>, const Entry*> LiveIndex(const std::vector<Entry>& entries) {
    std::map<std::pair<std::string, std::string>, const Entry*> index;
    for (const Entry& e : entries)
        if (!e.deleted()) index.emplace(std::make_pair(e.name, e.type), &e);
    return index;
}

int Refuse(const std::string& path, const std::string& why, bool json, FILE* out) {
    return RefuseCommand(path, why, json, out, " - Error: the round trip of '%s' cannot be checked: %s.\n");
}

}  // namespace

void commands::CompareResources(int pkgA, const Entry& a, int pkgB, const Entry& b, const char* aFails,
                                const char* bFails, std::vector<std::string>& diffs) {
    samemeaning::CompareBlocks(pkgA, a, pkgB, b, aFails, bFails, diffs);
}

namespace {

// Whether the export and the import of the round trip succeeded.
struct RunState {
    bool exported, imported;
};

// What did not survive the round trip, one difference per live entry of
// the reference copy, in package order.
std::vector<Difference> FindDifferences(const std::vector<Entry>& refEntries, int refPkg,
                                        const std::vector<Entry>& newEntries, int newPkg, const RunState& run) {
    std::vector<Difference> differences;
    const auto refIndex = LiveIndex(refEntries);
    const auto newIndex = LiveIndex(newEntries);
    std::set<std::string> widgets;
    for (const Entry& e : refEntries)
        if (!e.deleted() && e.type == TypeOf(BlockKind::Widget)) widgets.insert(e.name);
    auto ownedByWidget = [&](const std::string& name) { return orb::IsStateImageOf(name, widgets); };

    for (size_t i = 0; i < refEntries.size(); ++i) {
        const Entry& e = refEntries[i];
        if (e.deleted()) continue;
        const kinds::KindRow* row = kinds::Find(e.type);
        const std::string newType = row ? row->type : e.type;
        std::vector<std::string> diffs;
        auto found = newIndex.find({e.name, newType});
        if (refIndex.at({e.name, e.type}) != &e) {
            diffs.push_back("another live block has the same name and type; only the first of them is carried");
        } else if (!run.exported) {
            diffs.push_back("the export of the package failed");
        } else if (found == newIndex.end() || newPkg < 1 || refPkg < 1) {
            if (!row)
                diffs.push_back("blocks of type '" + SafeText(e.type) +
                                "' are not carried by the interchange document");
            else if (row->kind == BlockKind::StateImage && !ownedByWidget(e.name))
                diffs.push_back(
                    "it is missing after the round trip: a state image that belongs to no widget is not "
                    "exported");
            else if (!run.imported)
                diffs.push_back("the import of its document failed");
            else
                diffs.push_back("it is missing after the round trip");
        } else {
            CompareResources(refPkg, e, newPkg, *found->second, kOriginalFails, kCopyFails, diffs);
        }
        if (diffs.empty()) continue;
        std::string what = diffs[0];
        for (size_t k = 1; k < diffs.size(); ++k) what += "; " + diffs[k];
        differences.push_back({i + 1, &e, what});
    }
    return differences;
}

// The check's report: the JSON object, or the console lines.
int ReportCheck(const std::string& path, const Head& head, uint64_t resources,
                const std::vector<Difference>& differences, const std::vector<std::string>& messages,
                const RunState& run, bool json, FILE* out) {
    const uint64_t survived = resources - differences.size();
    const bool ok = differences.empty();
    if (json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", path)
            .Field("ok", ok)
            .Field("version", head.versionText)
            .Field("resources", resources)
            .Field("survived", survived)
            .Field("export_ok", run.exported || resources == 0)
            .Field("import_ok", run.imported || resources == 0);
        w.Key("differences").BeginArray();
        for (const Difference& d : differences)
            w.BeginObject()
                .Field("index", d.index)
                .Field("name", d.entry->name)
                .Field("type", d.entry->type)
                .Field("kind", kinds::Word(d.entry->type))
                .Field("difference", d.what)
                .EndObject();
        w.EndArray();
        w.Key("messages").BeginArray();
        for (const std::string& m : messages) w.String(m);
        w.EndArray();
        w.EndObject();
        std::fputs(w.str().c_str(), out);
        return ok ? kExitOk : kExitFailed;
    }

    std::fprintf(out, " Checking the round trip of '%s' (VLT v%s): %llu resources.\n", SafeText(path).c_str(),
                 head.versionText.c_str(), static_cast<unsigned long long>(resources));
    if (head.state == HeadState::Version3)
        std::fprintf(out, " - Info: a v3.0 package; its copies were upgraded to v4.0 for the check.\n");
    for (const Difference& d : differences)
        std::fprintf(out, " - Error: %s '%s' (%s) does not survive the round trip: %s.\n",
                     kinds::Find(d.entry->type) ? kinds::Word(d.entry->type) : "block", SafeText(d.entry->name).c_str(),
                     SafeText(d.entry->type).c_str(), d.what.c_str());
    if (!messages.empty()) {
        std::fprintf(out, " - Info: the export and import said:\n");
        for (const std::string& m : messages) std::fprintf(out, "     %s\n", SafeText(m).c_str());
    }
    std::fprintf(out, " - %llu of %llu resources survive the round trip\n", static_cast<unsigned long long>(survived),
                 static_cast<unsigned long long>(resources));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

int CheckPackage(const std::string& path, bool json, FILE* out) {
    const Head head = ReadHead(path);
    if (head.state != HeadState::Version4 && head.state != HeadState::Version3)
        return Refuse(path, HeadProblem(head), json, out);
    if (!g_pStuffVLT || !g_pImage) return Refuse(path, "the SDK did not start", json, out);

    TempFolder tmp;
    if (!tmp.ok()) return Refuse(path, "no temporary folder can be made", json, out);
    // Ctrl-C, kill, a hang-up or a closed pipe leave no copy of the package behind.
    const SignalCleanupFolder cleanup(tmp.path());
    const std::string source = tmp / "source.vlt";
    const std::string reference = tmp / "reference.vlt";
    const std::string document = tmp / "document.xml";
    const std::string result = tmp / "roundtrip.vlt";
    std::string why;
    if (!CopyFile(path, source, why) || !CopyFile(path, reference, why))
        return Refuse(path, "the package cannot be copied (" + why + ")", json, out);

    // The reference copy: opening it upgrades a 3.0 copy; its 1.0 blocks
    // are upgraded by the classes as they are loaded for the comparison.
    std::vector<Entry> refEntries;
    {
        const int pkg = g_pStuffVLT->Open(reference.c_str());
        if (pkg < 1)
            return Refuse(path,
                          head.state == HeadState::Version3
                              ? "its copy cannot be upgraded from v3.0 to v4.0"
                              : "it does not open: its header block is damaged or its checksum does not match its "
                                "contents",
                          json, out);
        const int walked = WalkEntries(pkg, refEntries);
        g_pStuffVLT->Close(pkg);
        if (walked != 1) return Refuse(path, "a read error stopped the walk over its entries", json, out);
        if (refEntries.empty() && head.entryBytes > 0 && head.state == HeadState::Version4)
            return Refuse(path, "no entry can be read: the package is protected or holds no block marker", json, out);
    }
    uint64_t resources = 0;
    for (const Entry& e : refEntries)
        if (!e.deleted()) ++resources;

    // Export the other copy and import the document, their console lines
    // kept aside: with --json nothing but the report may reach the output.
    bool exported = false, imported = false;
    std::vector<std::string> messages;
    if (resources > 0) {
        StdoutCapture capture(tmp / "console.txt");
        if (!capture.ok()) return Refuse(path, "the converter's console cannot be redirected", json, out);
        exported = ExportPackage(source.c_str(), document.c_str()) != 0;
        // An export that carried nothing writes no document.
        imported =
            exported && ::access(document.c_str(), F_OK) == 0 && ImportDocument(document.c_str(), result.c_str()) != 0;
        messages = MessageLines(capture.Finish());
    }

    std::vector<Entry> newEntries;
    int newPkg = 0;
    if (imported) {
        newPkg = g_pStuffVLT->Open(result.c_str());
        if (newPkg >= 1 && WalkEntries(newPkg, newEntries) != 1)
            messages.push_back("the new package cannot be read whole");
    }
    const int refPkg = g_pStuffVLT->Open(reference.c_str());
    const std::vector<Difference> differences =
        FindDifferences(refEntries, refPkg, newEntries, newPkg, {exported, imported});
    if (newPkg >= 1) g_pStuffVLT->Close(newPkg);
    if (refPkg >= 1) g_pStuffVLT->Close(refPkg);

    return ReportCheck(path, head, resources, differences, messages, {exported, imported}, json, out);
}

namespace {

int RunCheck(const Invocation& inv) { return CheckPackage(inv.paths[0], inv.json, inv.out); }

}  // namespace

const CommandRow kCheckCommand = {
    "--check",
    1,
    1,
    "--check needs exactly one package path",
    false,
    true,
    kOptJson | kOptQuiet | kOptJobs,
    "  bundlex --check PACKAGE [--json]\n"
    "      Export a copy of the package and import it again in a temporary folder,\n"
    "      then compare every resource with the original. The package is not modified.\n",
    &RunCheck,
};
