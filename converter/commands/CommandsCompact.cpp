// bundlex --compact PACKAGE: the package rewritten with its live entries
// only, in the same order, each copied as it is stored (never decoded or
// recompressed), under the package's lock and through a new file that is
// put in place when complete (PackageStage). A package without deleted
// entries is left as it is.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "PackageStage.h"

namespace {

using namespace commands;

int Fail(const std::string& path, const std::string& why, bool json, FILE* out, const char* code = "package-unusable") {
    return RefuseCommand(path, why, json, out, " - Error: cannot compact '%s': %s.\n", code);
}

}  // namespace

int CompactPackage(const std::string& path, bool json, bool wait, FILE* out) {
    PackageStage stage;
    std::vector<Entry> entries;
    std::string why;
    const int pkg = BeginRewrite(stage, path, wait, json, entries, why);
    if (pkg < 1) return Fail(path, why, json, out);
    uint64_t deleted = 0;
    for (const Entry& e : entries)
        if (e.deleted()) ++deleted;
    const uint64_t live = entries.size() - deleted;
    struct stat st;
    const uint64_t before = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    uint64_t after = before;
    if (deleted > 0 && !stage.CommitLive(nullptr, nullptr, &after))
        return Fail(path,
                    "the compacted package could not be written" + stage.CommitCause() + "; it was left as it was",
                    json, out, "write-failed");
    if (deleted == 0) stage.Abandon();  // nothing to reclaim: not even rewritten

    if (json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", path)
            .Field("ok", true)
            .Field("live", live)
            .Field("deleted", deleted)
            .Field("size_before", before)
            .Field("size_after", after)
            .Field("reclaimed", before - after)
            .Field("rewritten", deleted > 0)
            .EndObject();
        std::fputs(w.str().c_str(), out);
        return kExitOk;
    }
    if (deleted == 0)
        std::fprintf(out, " - '%s' has no deleted entries; it was left as it was (%llu bytes).\n",
                     SafeText(path).c_str(), static_cast<unsigned long long>(before));
    else
        std::fprintf(out,
                     " - Compacted '%s': %llu live entries kept, %llu deleted entries dropped; %llu bytes before, "
                     "%llu after, %llu reclaimed.\n",
                     SafeText(path).c_str(), static_cast<unsigned long long>(live),
                     static_cast<unsigned long long>(deleted), static_cast<unsigned long long>(before),
                     static_cast<unsigned long long>(after), static_cast<unsigned long long>(before - after));
    return kExitOk;
}

namespace {

int RunCompact(const Invocation& inv) { return CompactPackage(inv.paths[0], inv.json, inv.wait, inv.out); }

}  // namespace

const CommandRow kCompactCommand = {
    "--compact",
    1,
    1,
    "--compact needs exactly one package path",
    true,
    true,
    kOptJson | kOptQuiet | kOptNoWait | kOptJobs,
    "  bundlex --compact PACKAGE [--json] [--no-wait]\n"
    "      Rewrite the package with its live entries only, in the same order, copied\n"
    "      as stored; reports the bytes reclaimed.\n",
    &RunCompact,
};
