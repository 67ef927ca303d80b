// bundlex --list: one row per entry of a package, in package order, then the
// totals per kind and the live count. Only descriptors are read (FindFirst
// and FindNext); no payload is loaded or decompressed, except for the
// properties of --long and --json, which the kind registry reads from each
// live block's head (kinds::ReadProperties). A 3.0 package is not opened
// (opening would rebuild it in place); it is reported instead.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CommandTable.h"
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

void WriteNumber(json::Writer& w, double v) {
    if (v == std::floor(v) && std::fabs(v) < 9e15)
        w.Int(static_cast<int64_t>(v));
    else
        w.Number(v);
}

void WriteProperties(json::Writer& w, const kinds::Properties& props) {
    w.Key("properties").BeginObject();
    for (const kinds::Property& p : props) {
        w.Key(p.key);
        switch (p.form) {
            case kinds::Property::Form::Number: WriteNumber(w, p.number); break;
            case kinds::Property::Form::Text: w.String(p.text); break;
            case kinds::Property::Form::Names:
                w.BeginArray();
                for (const std::string& n : p.names) w.String(n);
                w.EndArray();
                break;
        }
    }
    w.EndObject();
}

int Fail(const std::string& path, const std::string& why, bool json, FILE* out) {
    return RefuseCommand(path, why, json, out, " - Error: cannot list '%s': %s.\n");
}

}  // namespace

// A property as the text listing shows it: "width 64", "tiles 4",
// "states normal,pressed".
std::string commands::PropertyText(const kinds::Property& p) {
    char number[32];
    std::snprintf(number, sizeof number, "%.15g", p.number);
    switch (p.form) {
        case kinds::Property::Form::Number:
            // A colour key is a pixel value: shown in hex, as colours are written.
            if (p.key == "colorkey")
                std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(p.number));
            return p.key + " " + number;
        case kinds::Property::Form::Text: return p.key + " " + SafeText(p.text);
        case kinds::Property::Form::Names: {
            std::string text = p.key + " ";
            for (size_t i = 0; i < p.names.size(); ++i) text += (i ? "," : "") + p.names[i];
            return p.names.empty() ? text + "none" : text;
        }
    }
    return p.key;
}

namespace {

// What the descriptors alone tell of the whole package.
struct Summary {
    std::map<std::string, Total> totals;
    uint64_t count = 0, deleted = 0;
    bool complete = false;
    uint64_t live() const { return count - deleted; }
};

Summary Summarise(int pkg) {
    Summary sum;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    int r = g_pStuffVLT->FindFirst(pkg, &info);
    for (; r == 1; r = g_pStuffVLT->FindNext(pkg, &info)) {
        const kinds::Entry e = kinds::EntryOf(info);
        Total& t = sum.totals[kinds::Word(e.type)];
        ++t.blocks;
        t.size += e.size;
        t.packed += e.packedSize;
        if (e.deleted()) ++sum.deleted;
        ++sum.count;
        std::memset(&info, 0, sizeof info);
    }
    sum.complete = r == 0;
    return sum;
}

// Entry i and, when asked for, its properties (a block that cannot be
// read gets a note in why instead).
struct EntryReader {
    int pkg;
    bool withProperties;
    kinds::Properties props;
    std::string why;

    bool At(uint64_t i, kinds::Entry& e) {
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        if (g_pStuffVLT->FindNth(pkg, i, &info) != 1) return false;
        e = kinds::EntryOf(info);
        why.clear();
        props.clear();
        if (withProperties && !kinds::ReadProperties(pkg, e, props, why) && why.empty())
            why = "the block could not be read";
        return true;
    }
};

int ListJson(const std::string& path, const Head& head, const Summary& sum, EntryReader& rows, FILE* out) {
    json::Writer w;
    w.BeginObject().Field("package", path).Field("ok", sum.complete).Field("version", head.versionText);
    w.Key("entries").BeginArray();
    kinds::Entry e;
    for (uint64_t i = 0; i < sum.count && rows.At(i, e); ++i) {
        w.BeginObject()
            .Field("index", i + 1)
            .Field("name", e.name)
            .Field("type", e.type)
            .Field("kind", kinds::Word(e.type))
            .Field("mode", ModeWord(e.mode))
            .Field("mode_code", static_cast<int>(e.mode))
            .Field("size", e.size)
            .Field("packed_size", e.packedSize)
            .Field("is_deleted", e.deleted());
        if (!e.deleted()) {
            WriteProperties(w, rows.props);
            if (!rows.why.empty()) w.Field("properties_error", rows.why);
        }
        w.EndObject();
        if (i % 256 == 255) std::fputs(w.Take().c_str(), out);
    }
    g_pStuffVLT->Close(rows.pkg);
    w.EndArray();
    w.Key("totals").BeginArray();
    for (const char* word : kinds::Words()) {
        auto it = sum.totals.find(word);
        if (it == sum.totals.end()) continue;
        w.BeginObject()
            .Field("kind", word)
            .Field("blocks", it->second.blocks)
            .Field("size", it->second.size)
            .Field("packed_size", it->second.packed)
            .EndObject();
    }
    w.EndArray();
    w.Field("entry_count", sum.count).Field("live", sum.live()).Field("deleted", sum.deleted);
    if (!sum.complete) ErrorField(w, "walk-incomplete", "a read error stopped the walk over the entries");
    w.EndObject();
    std::fputs(w.str().c_str(), out);
    return sum.complete ? kExitOk : kExitFailed;
}

int ListText(const std::string& path, const Head& head, const Summary& sum, EntryReader& rows, FILE* out,
             bool properties) {
    std::fprintf(out, " Package '%s' (VLT v%s)\n\n", SafeText(path).c_str(), head.versionText.c_str());
    std::fprintf(out, " %6s  %-34s %-8s %-10s %10s %10s  %s\n", "#", "Name", "Type", "Mode", "Size", "Packed", "State");
    kinds::Entry e;
    for (uint64_t i = 0; i < sum.count && rows.At(i, e); ++i) {
        std::fprintf(out, " %6llu  %-34s %-8s %-10s %10lu %10lu  %s\n", static_cast<unsigned long long>(i + 1),
                     SafeText(e.name).c_str(), SafeText(e.type).c_str(), ModeWord(e.mode),
                     static_cast<unsigned long>(e.size), static_cast<unsigned long>(e.packedSize),
                     e.deleted() ? "deleted" : "live");
        // --long: one indented line under the row, for live blocks that have
        // properties or could not be read.
        if (!properties || e.deleted()) continue;
        std::string line;
        for (const kinds::Property& p : rows.props) line += (line.empty() ? "" : ", ") + PropertyText(p);
        if (!rows.why.empty()) line = "(no properties: " + rows.why + ")";
        if (!line.empty()) std::fprintf(out, " %6s  %s\n", "", line.c_str());
    }
    g_pStuffVLT->Close(rows.pkg);
    std::fprintf(out, "\n Totals per kind:\n");
    for (const char* word : kinds::Words()) {
        auto it = sum.totals.find(word);
        if (it == sum.totals.end()) continue;
        std::fprintf(out, "   %-12s %8llu block%s %12llu bytes %12llu packed\n", word,
                     static_cast<unsigned long long>(it->second.blocks), it->second.blocks == 1 ? " " : "s",
                     static_cast<unsigned long long>(it->second.size),
                     static_cast<unsigned long long>(it->second.packed));
    }
    std::fprintf(out, "\n - %llu entries: %llu live, %llu deleted.\n", static_cast<unsigned long long>(sum.count),
                 static_cast<unsigned long long>(sum.live()), static_cast<unsigned long long>(sum.deleted));
    if (!sum.complete) {
        std::fprintf(out, " - Error: a read error stopped the walk after %llu entries.\n",
                     static_cast<unsigned long long>(sum.count));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int ListPackage(const std::string& path, bool json, FILE* out, bool properties) {
    const Head head = ReadHead(path);
    std::string why;
    const int pkg = OpenChecked(path, head, why);
    if (pkg < 1) return Fail(path, why, json, out);

    // The totals first, from the descriptors alone; then the rows, written
    // as each entry is read (with its properties, read from the block while
    // the package is open), so that a package of any number of entries
    // needs memory for one row.
    const Summary sum = Summarise(pkg);
    // An empty package is exactly its head and header; anything longer that
    // yields no entry is a package whose descriptors cannot be read (a
    // protected one, whose key this program never has).
    if (sum.count == 0 && head.entryBytes > 0 && sum.complete) {
        g_pStuffVLT->Close(pkg);
        return Fail(path, "no entry can be read: the package is protected or holds no block marker", json, out);
    }
    EntryReader rows{pkg, properties || json, {}, {}};
    return json ? ListJson(path, head, sum, rows, out) : ListText(path, head, sum, rows, out, properties);
}

namespace {

int RunList(const Invocation& inv) { return ListPackage(inv.paths[0], inv.json, inv.out, inv.longList); }

}  // namespace

const CommandRow kListCommand = {
    "--list",
    1,
    1,
    "--list needs exactly one package path",
    false,
    true,
    kOptJson | kOptQuiet | kOptLong | kOptJobs,
    "  bundlex --list PACKAGE [--json] [--long]\n"
    "      List every entry: name, type, storage mode, size, packed size, deleted;\n"
    "      then the totals per kind and the live count. Reads descriptors only.\n"
    "      --long (and --json always) adds each live block's properties read from\n"
    "      its head: sizes, depth, alpha, colour key, tiles, frames, glyphs, sound\n"
    "      format, widget type and state images.\n",
    &RunList,
};
