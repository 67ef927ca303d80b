// bundlex --diff A.vlt B.vlt [--json]: the resources added, removed and
// changed from package A to package B.
//
// Resources are matched by name and type (an older 1.0 type counts as its
// newer one), the first live entry of each pair as every reader takes it;
// deleted entries are not resources. Two resources are the same when their
// payloads, with the storage mode undone, are the same bytes; otherwise they
// are decoded through their classes and compared as --check compares them,
// so that a change of storage alone (compression, depth) is no difference.
// A raw file's storage mode is part of the file, as its document says.
//
// Both packages are copied into a temporary folder first: loading a 1.0
// block upgrades it inside its package, and a 3.0 package is rebuilt when it
// is opened, neither of which may happen to the user's files.
//
// Exit codes as diff and cmp give them: 0 the same resources, 1 they differ,
// 2 trouble (a package that cannot be read, a block that does not load).
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "SdkHandles.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace {

using namespace commands;

constexpr int kExitDiffer = 1;
constexpr int kExitTrouble = 2;

enum class Change { Added, Removed, Changed };

const char* ChangeWord(Change c) {
    switch (c) {
        case Change::Added: return "added";
        case Change::Removed: return "removed";
        case Change::Changed: return "changed";
    }
    return "";
}

struct Difference {
    Change change;
    uint64_t index;  // in package A for removed and changed, in B for added
    const Entry* entry;
    std::vector<std::string> details;
};

// One package, copied and opened.
struct Side {
    std::string path;  // as the user gave it
    Head head;
    int pkg = 0;
    std::vector<Entry> entries;
    // The first live entry of each (name, type), the type made its newest form.
    std::map<std::pair<std::string, std::string>, size_t> live;
    ~Side() {
        if (pkg > 0) g_pStuffVLT->Close(pkg);
    }
};

std::string KeyType(const std::string& type) {
    const kinds::KindRow* row = kinds::Find(type);
    return row ? row->type : type;
}

// Copies path into the folder and opens the copy; false with why.
bool Prepare(Side& side, const TempFolder& tmp, const char* copyName, std::string& why) {
    side.head = ReadHead(side.path);
    if (side.head.state != HeadState::Version4 && side.head.state != HeadState::Version3) {
        why = HeadProblem(side.head);
        return false;
    }
    const std::string copy = tmp / copyName;
    if (!CopyFile(side.path, copy, why)) {
        why = "it cannot be copied (" + why + ")";
        return false;
    }
    side.pkg = g_pStuffVLT->Open(copy.c_str());
    if (side.pkg < 1) {
        why = side.head.state == HeadState::Version3
                  ? "its copy cannot be upgraded from v3.0 to v4.0"
                  : "it does not open: its header block is damaged or its checksum does not match its contents";
        return false;
    }
    if (WalkEntries(side.pkg, side.entries) != 1) {
        why = "a read error stopped the walk over its entries";
        return false;
    }
    if (side.entries.empty() && side.head.entryBytes > 0 && side.head.state == HeadState::Version4) {
        why = "no entry can be read: the package is protected or holds no block marker";
        return false;
    }
    for (size_t i = 0; i < side.entries.size(); ++i)
        if (!side.entries[i].deleted())
            side.live.emplace(std::make_pair(side.entries[i].name, KeyType(side.entries[i].type)), i);
    return true;
}

// The properties that differ, as --list --long shows them.
void CompareProperties(const Side& a, const Entry& ea, const Side& b, const Entry& eb,
                       std::vector<std::string>& details) {
    kinds::Properties pa, pb;
    std::string why;
    if (!kinds::ReadProperties(a.pkg, ea, pa, why) || !kinds::ReadProperties(b.pkg, eb, pb, why)) return;
    auto find = [](const kinds::Properties& props, const std::string& key) -> const kinds::Property* {
        for (const kinds::Property& p : props)
            if (p.key == key) return &p;
        return nullptr;
    };
    for (const kinds::Property& p : pa) {
        const kinds::Property* q = find(pb, p.key);
        const std::string before = PropertyText(p);
        if (!q)
            details.push_back(before + " became none");
        else if (PropertyText(*q) != before)
            details.push_back(before + " became " + PropertyText(*q).substr(q->key.size() + 1));
    }
    for (const kinds::Property& q : pb)
        if (!find(pa, q.key)) details.push_back(q.key + " none became " + PropertyText(q).substr(q.key.size() + 1));
}

// Whether the two payloads are the same bytes; trouble is set (and the
// reason given) when one cannot be loaded.
bool SamePayload(const Side& a, const Entry& ea, const Side& b, const Entry& eb, std::vector<std::string>& details,
                 bool& trouble) {
    Payload pa, pb;
    const bool la = pa.Load(a.pkg, ea.type, ea.name, ea.size);
    const bool lb = pb.Load(b.pkg, eb.type, eb.name, eb.size);
    if (!la || !lb) {
        details.push_back(std::string("the block cannot be read in ") + (!la ? "A" : "B"));
        trouble = true;
        return false;
    }
    const uint32_t na = pa.info.data ? pa.info.size : 0;
    const uint32_t nb = pb.info.data ? pb.info.size : 0;
    if (na != nb || (na && std::memcmp(pa.info.data, pb.info.data, na) != 0)) return false;
    const kinds::KindRow* row = kinds::Find(ea.type);
    return ea.type == eb.type && ((row && row->kind != kinds::Kind::File) || ea.mode == eb.mode);
}

int Trouble(const std::string& a, const std::string& b, const std::string& why, bool json, FILE* out) {
    if (json) {
        json::Writer w;
        w.BeginObject().Field("a", a).Field("b", b).Field("ok", false);
        ErrorField(w, "package-unusable", why);
        w.EndObject();
        std::fputs(w.str().c_str(), out);
    } else {
        std::fprintf(out, " - Error: cannot compare '%s' with '%s': %s.\n", SafeText(a).c_str(), SafeText(b).c_str(),
                     why.c_str());
    }
    return kExitTrouble;
}

// What differs between the two packages, resource by resource.
struct Comparison {
    std::vector<Difference> diffs;
    bool trouble = false;
    uint64_t same = 0;
    uint64_t counts[3] = {};  // by Change
    int code() const { return trouble ? kExitTrouble : diffs.empty() ? kExitOk : kExitDiffer; }
};

Comparison Compare(const Side& a, const Side& b) {
    Comparison c;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const Entry& ea = a.entries[i];
        const auto key = std::make_pair(ea.name, KeyType(ea.type));
        if (ea.deleted() || a.live.at(key) != i) continue;
        const auto found = b.live.find(key);
        if (found == b.live.end()) {
            c.diffs.push_back({Change::Removed, i + 1, &ea, {}});
            continue;
        }
        const Entry& eb = b.entries[found->second];
        Difference d{Change::Changed, i + 1, &ea, {}};
        bool unreadable = false;
        if (!SamePayload(a, ea, b, eb, d.details, unreadable) && !unreadable) {
            CompareProperties(a, ea, b, eb, d.details);
            CompareResources(a.pkg, ea, b.pkg, eb, "it does not load in A", "it does not load in B", d.details);
            for (const std::string& text : d.details)
                if (text.compare(0, 17, "it does not load ") == 0) unreadable = true;
        }
        c.trouble = c.trouble || unreadable;
        if (d.details.empty())
            ++c.same;
        else
            c.diffs.push_back(d);
    }
    for (size_t i = 0; i < b.entries.size(); ++i) {
        const Entry& eb = b.entries[i];
        const auto key = std::make_pair(eb.name, KeyType(eb.type));
        if (!eb.deleted() && b.live.at(key) == i && !a.live.count(key))
            c.diffs.push_back({Change::Added, i + 1, &eb, {}});
    }
    for (const Difference& d : c.diffs) ++c.counts[static_cast<int>(d.change)];
    return c;
}

void ReportJson(const Side& a, const Side& b, const Comparison& c, FILE* out) {
    const std::string& pathA = a.path;
    const std::string& pathB = b.path;
    json::Writer w;
    w.BeginObject()
        .Field("a", pathA)
        .Field("b", pathB)
        .Field("ok", !c.trouble)
        .Field("same", c.diffs.empty())
        .Field("resources_a", static_cast<uint64_t>(a.live.size()))
        .Field("resources_b", static_cast<uint64_t>(b.live.size()))
        .Field("added", c.counts[0])
        .Field("removed", c.counts[1])
        .Field("changed", c.counts[2])
        .Field("unchanged", c.same);
    w.Key("differences").BeginArray();
    for (const Difference& d : c.diffs) {
        w.BeginObject()
            .Field("change", ChangeWord(d.change))
            .Field("index", d.index)
            .Field("name", d.entry->name)
            .Field("type", d.entry->type)
            .Field("kind", kinds::Word(d.entry->type));
        w.Key("details").BeginArray();
        for (const std::string& text : d.details) w.String(text);
        w.EndArray().EndObject();
    }
    w.EndArray().EndObject();
    std::fputs(w.str().c_str(), out);
}

void ReportText(const Side& a, const Side& b, const Comparison& c, FILE* out) {
    const std::string& pathA = a.path;
    const std::string& pathB = b.path;
    std::fprintf(out, " Comparing '%s' (VLT v%s) with '%s' (VLT v%s)\n", SafeText(pathA).c_str(),
                 a.head.versionText.c_str(), SafeText(pathB).c_str(), b.head.versionText.c_str());
    for (const Difference& d : c.diffs) {
        std::string line;
        for (const std::string& text : d.details) line += (line.empty() ? ": " : "; ") + text;
        std::fprintf(out, " %c %-8s %s '%s' (%s)%s\n",
                     d.change == Change::Added     ? '+'
                     : d.change == Change::Removed ? '-'
                                                   : '~',
                     ChangeWord(d.change), kinds::Word(d.entry->type), SafeText(d.entry->name).c_str(),
                     SafeText(d.entry->type).c_str(), line.c_str());
    }
    if (c.diffs.empty())
        std::fprintf(out, " - The two packages hold the same %llu resources.\n",
                     static_cast<unsigned long long>(c.same));
    else
        std::fprintf(out, " - %llu added, %llu removed, %llu changed; %llu the same.\n",
                     static_cast<unsigned long long>(c.counts[0]), static_cast<unsigned long long>(c.counts[1]),
                     static_cast<unsigned long long>(c.counts[2]), static_cast<unsigned long long>(c.same));
    if (c.trouble) std::fprintf(out, " - Error: some blocks could not be read; the comparison is incomplete.\n");
}

}  // namespace

int DiffPackages(const std::string& pathA, const std::string& pathB, bool json, FILE* out) {
    if (!g_pStuffVLT || !g_pImage) return Trouble(pathA, pathB, "the SDK did not start", json, out);
    TempFolder tmp;
    if (!tmp.ok()) return Trouble(pathA, pathB, "no temporary folder can be made", json, out);
    Side a, b;
    a.path = pathA;
    b.path = pathB;
    std::string why;
    if (!Prepare(a, tmp, "a.vlt", why)) return Trouble(pathA, pathB, "'" + SafeText(pathA) + "': " + why, json, out);
    if (!Prepare(b, tmp, "b.vlt", why)) return Trouble(pathA, pathB, "'" + SafeText(pathB) + "': " + why, json, out);

    const Comparison c = Compare(a, b);
    if (json)
        ReportJson(a, b, c, out);
    else
        ReportText(a, b, c, out);
    return c.code();
}

namespace {

int RunDiff(const Invocation& inv) { return DiffPackages(inv.paths[0], inv.paths[1], inv.json, inv.out); }

}  // namespace

const CommandRow kDiffCommand = {
    "--diff",
    2,
    2,
    "--diff needs two package paths",
    false,
    true,
    kOptJson | kOptQuiet | kOptJobs,
    "  bundlex --diff A.vlt B.vlt [--json]\n"
    "      The resources added, removed and changed from package A to package B, and\n"
    "      what changed: properties, pixels, samples, bytes. Deleted entries and storage\n"
    "      (compression, depth) are not compared. Exit 0 the same, 1 different, 2 trouble.\n",
    &RunDiff,
};
