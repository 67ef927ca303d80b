// bundlex --list: one row per entry of a package, in package order, then the
// totals per kind and the live count. Only descriptors are read (FindFirst
// and FindNext); no payload is loaded or decompressed. A 3.0 package is not
// opened (opening would rebuild it in place); it is reported instead.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "package/IStuffVLT.h"

namespace {

using namespace commands;

struct Total {
    uint64_t blocks = 0;
    uint64_t size = 0;
    uint64_t packed = 0;
};

int Fail(const std::string& path, const std::string& why, bool json, FILE* out) {
    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", false).Field("error", why).EndObject();
        std::fputs(w.str().c_str(), out);
    } else {
        std::fprintf(out, " - Error: cannot list '%s': %s.\n", SafeText(path).c_str(), why.c_str());
    }
    return kExitFailed;
}

}  // namespace

int ListPackage(const std::string& path, bool json, FILE* out) {
    const Head head = ReadHead(path);
    std::string why;
    const int pkg = OpenChecked(path, head, why);
    if (pkg < 1) return Fail(path, why, json, out);

    std::vector<Entry> entries;
    const int walked = WalkEntries(pkg, entries);
    g_pStuffVLT->Close(pkg);
    // An empty package is exactly its head and header; anything longer that
    // yields no entry is a package whose descriptors cannot be read (a
    // protected one, whose key this program never has).
    if (entries.empty() && head.entryBytes > 0 && walked == 1)
        return Fail(path, "no entry can be read: the package is protected or holds no block marker", json, out);

    std::map<std::string, Total> totals;
    uint64_t deleted = 0;
    for (const Entry& e : entries) {
        Total& t = totals[kinds::Word(e.type)];
        ++t.blocks;
        t.size += e.size;
        t.packed += e.packedSize;
        if (e.deleted()) ++deleted;
    }
    const uint64_t live = entries.size() - deleted;
    const bool complete = walked == 1;

    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", complete).Field("version", head.versionText);
        w.Key("entries").BeginArray();
        uint64_t index = 0;
        for (const Entry& e : entries) {
            w.BeginObject()
                .Field("index", ++index)
                .Field("name", e.name)
                .Field("type", e.type)
                .Field("kind", kinds::Word(e.type))
                .Field("mode", ModeWord(e.mode))
                .Field("mode_code", static_cast<int>(e.mode))
                .Field("size", e.size)
                .Field("packed_size", e.packedSize)
                .Field("deleted", e.deleted())
                .EndObject();
        }
        w.EndArray();
        w.Key("totals").BeginArray();
        for (const char* word : kinds::Words()) {
            auto it = totals.find(word);
            if (it == totals.end()) continue;
            w.BeginObject()
                .Field("kind", word)
                .Field("blocks", it->second.blocks)
                .Field("size", it->second.size)
                .Field("packed_size", it->second.packed)
                .EndObject();
        }
        w.EndArray();
        w.Field("entry_count", static_cast<uint64_t>(entries.size()))
            .Field("live", live)
            .Field("deleted", deleted);
        if (!complete) w.Field("error", "a read error stopped the walk over the entries");
        w.EndObject();
        std::fputs(w.str().c_str(), out);
        return complete ? kExitOk : kExitFailed;
    }

    std::fprintf(out, " Package '%s' (VLT v%s)\n\n", SafeText(path).c_str(), head.versionText.c_str());
    std::fprintf(out, " %6s  %-34s %-8s %-10s %10s %10s  %s\n", "#", "Name", "Type", "Mode", "Size", "Packed",
                 "State");
    uint64_t index = 0;
    for (const Entry& e : entries) {
        std::fprintf(out, " %6llu  %-34s %-8s %-10s %10lu %10lu  %s\n", static_cast<unsigned long long>(++index),
                     SafeText(e.name).c_str(), SafeText(e.type).c_str(), ModeWord(e.mode),
                     static_cast<unsigned long>(e.size), static_cast<unsigned long>(e.packedSize),
                     e.deleted() ? "deleted" : "live");
    }
    std::fprintf(out, "\n Totals per kind:\n");
    for (const char* word : kinds::Words()) {
        auto it = totals.find(word);
        if (it == totals.end()) continue;
        std::fprintf(out, "   %-12s %8llu block%s %12llu bytes %12llu packed\n", word,
                     static_cast<unsigned long long>(it->second.blocks), it->second.blocks == 1 ? " " : "s",
                     static_cast<unsigned long long>(it->second.size),
                     static_cast<unsigned long long>(it->second.packed));
    }
    std::fprintf(out, "\n - %llu entries: %llu live, %llu deleted.\n", static_cast<unsigned long long>(entries.size()),
                 static_cast<unsigned long long>(live), static_cast<unsigned long long>(deleted));
    if (!complete) {
        std::fprintf(out, " - Error: a read error stopped the walk after %llu entries.\n",
                     static_cast<unsigned long long>(entries.size()));
        return kExitFailed;
    }
    return kExitOk;
}
