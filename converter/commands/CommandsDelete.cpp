// bundlex --delete PACKAGE NAME...: resources taken out of a package. Each
// NAME is an exact block name or a shell wildcard pattern (* ? [...])
// matched against the names of live blocks; one that matches none stops the
// command before anything is written. A widget takes its state images with
// it, unless a widget that stays uses them; a state image whose widget
// stays is refused, since the widget could not be loaded without it. The
// package is rewritten without the taken entries (and without earlier
// deleted ones) through a new file put in place when complete.
#include <sys/stat.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "KindTable.h"
#include "NameMatch.h"
#include "PackageStage.h"

namespace {

using namespace commands;
using Pair = std::pair<std::string, std::string>;  // name, type

int Fail(const std::string& path, const std::string& why, bool json, FILE* out, const char* code = "package-unusable") {
    return RefuseCommand(path, why, json, out, " - Error: cannot delete from '%s': %s.\n", code);
}

bool Keep(void* context, const BlockInfo& info) {
    const auto* drop = static_cast<const std::set<Pair>*>(context);
    return drop->count({info.name, info.type}) == 0;
}

}  // namespace

int DeleteFromPackage(const std::string& path, const std::vector<std::string>& names, bool json, bool wait, FILE* out) {
    PackageStage stage;
    std::vector<Entry> entries;
    std::string why;
    const int pkg = BeginRewrite(stage, path, wait, json, entries, why);
    if (pkg < 1) return Fail(path, why, json, out);
    const std::string widget = kinds::TypeOf(kinds::Kind::Widget);
    const std::string stateImage = kinds::TypeOf(kinds::Kind::StateImage);

    std::set<Pair> drop;
    for (const std::string& n : names) {
        bool matched = false;
        for (const Entry& e : entries) {
            if (e.deleted() || !NameMatches(n, e.name)) continue;
            drop.insert({e.name, e.type});
            matched = true;
        }
        if (!matched) {
            stage.Abandon();
            if (json) return Fail(path, "no resource matches '" + n + "'", json, out, "no-match");
            std::fprintf(out, " - Error: no resource matches '%s'.\n", SafeText(n).c_str());
            return kExitFailed;
        }
    }
    // The state images of the widgets that go, and of those that stay.
    std::set<std::string> going, staying;
    for (const Entry& e : entries) {
        if (e.deleted() || e.type != widget) continue;
        std::set<std::string>& images = drop.count({e.name, e.type}) ? going : staying;
        for (const orb::StateImageBlock& image : orb::StateImagesOf(e.name)) images.insert(image.block);
    }
    for (const Pair& p : drop) {
        if (p.second == stateImage && staying.count(p.first)) {
            stage.Abandon();
            return Fail(path,
                        "'" + SafeText(p.first) +
                            "' is a state image of a widget that stays; delete the widget "
                            "instead",
                        json, out, "in-use");
        }
    }
    for (const Entry& e : entries)
        if (!e.deleted() && e.type == stateImage && going.count(e.name) && !staying.count(e.name))
            drop.insert({e.name, e.type});

    struct stat st;
    const uint64_t before = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    uint64_t after = 0;
    if (!stage.CommitLive(&Keep, &drop, &after))
        return Fail(path, "the package could not be rewritten" + stage.CommitCause() + "; it was left as it was", json,
                    out, "write-failed");

    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", true);
        uint64_t count = 0;
        w.Key("deleted_blocks").BeginArray();
        for (const Entry& e : entries) {
            if (e.deleted() || !drop.count({e.name, e.type})) continue;
            w.BeginObject().Field("name", e.name).Field("type", e.type).Field("kind", kinds::Word(e.type)).EndObject();
            ++count;
        }
        w.EndArray();
        w.Field("deleted", count);
        w.Field("size_before", before).Field("size_after", after).Field("reclaimed", before - after).EndObject();
        std::fputs(w.str().c_str(), out);
        return kExitOk;
    }
    uint64_t count = 0;
    for (const Entry& e : entries) {
        if (e.deleted() || !drop.count({e.name, e.type})) continue;
        std::fprintf(out, " - Deleted '%s' (%s).\n", SafeText(e.name).c_str(), kinds::Word(e.type));
        ++count;
    }
    std::fprintf(out, " - %llu entries deleted from '%s': %llu bytes before, %llu after.\n",
                 static_cast<unsigned long long>(count), SafeText(path).c_str(),
                 static_cast<unsigned long long>(before), static_cast<unsigned long long>(after));
    return kExitOk;
}

namespace {

int RunDelete(const Invocation& inv) {
    return DeleteFromPackage(inv.paths[0], std::vector<std::string>(inv.paths.begin() + 1, inv.paths.end()), inv.json,
                             inv.wait, inv.out);
}

}  // namespace

const CommandRow kDeleteCommand = {
    "--delete",
    2,
    SIZE_MAX,
    "--delete needs a package path and at least one name",
    true,
    true,
    kOptJson | kOptQuiet | kOptNoWait | kOptJobs,
    "  bundlex --delete PACKAGE NAME... [--json] [--no-wait]\n"
    "      Take the resources whose names match out of the package (exact names or\n"
    "      shell wildcards * ? [...]); a widget takes its state images with it.\n",
    &RunDelete,
};
