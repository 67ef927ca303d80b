// bundlex --verify: is every live block of a package sound?
//
// The package is opened like any reader opens it (head, header block,
// checksum); a 3.0 file is reported as needing the upgrade and is not
// opened, since opening rebuilds it. Every live block is then loaded (its
// storage mode undone) and decoded through the class that owns its type.
// A sound or music block holds the user's own file: one that loads but does
// not decode is still sound, and only named in a note, since the export
// carries its bytes as they are.
// Nothing is ever written: the 1.0 layouts ("TILE", "TILB", "SPR", "FONT"),
// which the classes' Load would upgrade inside the package, are decoded
// from the loaded copy of their payload through the classes' payload
// decoders instead.
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "KindTable.h"
#include "SdkHandles.h"
#include "package/IStuffVLT.h"
#include "package/PairSet.h"
#include "resources/ISoundFX.h"

namespace {

using namespace commands;


// Loads the block of an entry; an empty text when it loaded, else why not.
std::string LoadPayload(int pkg, const Entry& e, Payload& p) {
    const int r = g_pStuffVLT->LoadBlock(pkg, e.type.c_str(), e.name.c_str(), &p.info);
    if (e.size == 0 && r == 0) return std::string();  // an empty block loads with 0 too
    if (r == 0 || !p.info.data)
        return std::string("the block does not load (its stored data is short, or its ") + ModeWord(e.mode) +
               " data cannot be restored)";
    if (p.info.size != e.size) return "the block loads with a size other than its descriptor's";
    return std::string();
}

// The entries are walked twice and never all held: once to count the live
// blocks of each name and type, then one by one to check them.
class Verifier {
public:
    explicit Verifier(int pkg) : pkg_(pkg) {}

    // The first walk: one more live block of this name and type. False when
    // no more can be counted.
    bool Count(const Entry& e) {
        bool added = false;
        const long long n = live_.Add(e.name.c_str(), e.type.c_str(), &added);
        if (n < 0) return false;
        if (added)
            liveCount_.push_back(1);
        else if (liveCount_[static_cast<size_t>(n)] < 2)
            ++liveCount_[static_cast<size_t>(n)];  // "more than one" is all that is asked
        return true;
    }

    // The reason a live entry is not sound, or an empty text; note gets
    // what is worth saying about a sound one.
    std::string Check(const Entry& e, std::string& note) {
        if (LiveCount(e.name, e.type.c_str()) > 1)
            return "another live block has the same name and type; only the first of them can be loaded";
        bool older = false;
        const kinds::KindRow* row = kinds::Find(e.type, &older);
        Payload p;
        std::string why = LoadPayload(pkg_, e, p);
        if (!why.empty()) return why;
        // Without a row the block is raw bytes: loading is all there is.
        if (!row || !row->verify) return std::string();
        if (!row->verify(p.info.data, p.info.size, older, why)) return why;
        if (row->kind == kinds::Kind::Sound || row->kind == kinds::Kind::Music)
            NoteAudio(e, row->kind == kinds::Kind::Music, p.info.data, p.info.size, note);
        if (row->kind == kinds::Kind::Widget) return CheckStateImages(e, p.info.data, p.info.size);
        return std::string();
    }

    // Widgets are judged after every other block: a widget with a damaged
    // state image is not sound either.
    void NoteResult(const Entry& e, const std::string& why) {
        if (!why.empty()) damaged_.insert({e.name, e.type});
    }

private:
    // A sound or music block that loads holds the user's file: one that does
    // not decode is only noted, with what it is.
    void NoteAudio(const Entry& e, bool music, const uint8_t* data, size_t size, std::string& note) {
        AudioInfo ai;
        std::memset(&ai, 0, sizeof ai);
        const bool decoded = g_pSoundFX && (music ? g_pSoundFX->MusicInfo(pkg_, e.name.c_str(), &ai)
                                                  : g_pSoundFX->SoundInfo(pkg_, e.name.c_str(), &ai));
        if (!decoded)
            note = std::string(music ? "the music is " : "the sound is ") + ISoundFX::Describe(data, size, music) +
                   ", which the SDK cannot decode; its bytes are kept and exported as they are";
    }

    bool LiveStateImage(const std::string& name, bool& damaged) const {
        const kinds::KindRow& row = kinds::Of(kinds::Kind::StateImage);
        for (const char* type : {row.type, row.older}) {
            if (LiveCount(name, type) > 0) {
                damaged = damaged_.count({name, type}) > 0;
                return true;
            }
        }
        return false;
    }

    // The state images of a widget whose record is sound: each that its
    // type needs is a live block, and none is damaged.
    std::string CheckStateImages(const Entry& e, const uint8_t* data, size_t size) {
        for (const orb::StateImageBlock& image : orb::StateImagesOf(e.name, data, size)) {
            bool damaged = false;
            const std::string& name = image.block;
            if (!LiveStateImage(name, damaged)) {
                if (image.needed)
                    return "its " + std::string(image.state) + " state image '" + SafeText(name) + "' is missing";
            } else if (damaged) {
                return "its " + std::string(image.state) + " state image '" + SafeText(name) + "' is damaged";
            }
        }
        return std::string();
    }

    int LiveCount(const std::string& name, const char* type) const {
        const long long n = live_.Find(name.c_str(), type);
        return n < 0 ? 0 : liveCount_[static_cast<size_t>(n)];
    }

    int pkg_;
    vlt::PairSet live_;
    std::vector<uint8_t> liveCount_;  // per pair of live_: 1, or 2 for more
    std::set<std::pair<std::string, std::string>> damaged_;
};

// A block named in the report: a failure with its reason, or a note.
struct Failure {
    uint64_t index;
    Entry entry;
    std::string reason;
};

int Refuse(const std::string& path, const char* status, const std::string& why, bool json, FILE* out) {
    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", false).Field("status", status);
        ErrorField(w, "package-unusable", why);
        w.EndObject();
        std::fputs(w.str().c_str(), out);
    } else {
        std::fprintf(out, " - Error: '%s' cannot be verified: %s.\n", SafeText(path).c_str(), why.c_str());
    }
    return kExitFailed;
}

const char* StatusOf(const Head& head) {
    switch (head.state) {
        case HeadState::Version3: return "needs-upgrade";
        case HeadState::NotPackage: return "not-a-package";
        case HeadState::OtherVersion: return "unsupported-version";
        case HeadState::Unreadable: return "unreadable";
        case HeadState::Version4: return "damaged";
    }
    return "damaged";
}

// What the walk over the live blocks found.
struct Findings {
    std::vector<Failure> failures, notes;
    uint64_t live = 0, legacy = 0;
};

// Entry i of the package (counted by the first walk, so it is there).
Entry EntryAt(int pkg, uint64_t i) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    g_pStuffVLT->FindNth(pkg, i, &info);
    return kinds::EntryOf(info);
}

// Every live block of the count entries checked, widgets last, the failures
// in package order.
Findings VerifyEntries(Verifier& v, int pkg, uint64_t count) {
    Findings f;
    std::vector<uint64_t> widgets;
    for (uint64_t i = 0; i < count; ++i) {
        const Entry e = EntryAt(pkg, i);
        if (e.deleted()) continue;
        ++f.live;
        bool older = false;
        const kinds::KindRow* row = kinds::Find(e.type, &older);
        if (older) ++f.legacy;
        if (row && row->kind == kinds::Kind::Widget) {
            widgets.push_back(i);
            continue;
        }
        std::string note;
        const std::string reason = v.Check(e, note);
        v.NoteResult(e, reason);
        if (!reason.empty()) f.failures.push_back({i + 1, e, reason});
        if (!note.empty()) f.notes.push_back({i + 1, e, note});
    }
    for (const uint64_t i : widgets) {
        const Entry e = EntryAt(pkg, i);
        std::string note;
        const std::string reason = v.Check(e, note);
        if (!reason.empty()) f.failures.push_back({i + 1, e, reason});
    }
    std::sort(f.failures.begin(), f.failures.end(),
              [](const Failure& a, const Failure& b) { return a.index < b.index; });
    return f;
}

int ReportVerify(const std::string& path, const Head& head, uint64_t entryCount, bool complete, const Findings& f,
                 bool json, FILE* out) {
    const uint64_t sound = f.live - f.failures.size();
    const bool ok = complete && f.failures.empty();

    if (json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", path)
            .Field("ok", ok)
            .Field("status", ok ? "sound" : "damaged")
            .Field("version", head.versionText)
            .Field("entry_count", entryCount)
            .Field("blocks", f.live)
            .Field("sound", sound)
            .Field("failed", static_cast<uint64_t>(f.failures.size()))
            .Field("legacy_blocks", f.legacy);
        for (const auto& list : {std::make_pair("failures", &f.failures), std::make_pair("notes", &f.notes)}) {
            const char* field = list.second == &f.failures ? "reason" : "note";
            w.Key(list.first).BeginArray();
            for (const Failure& x : *list.second)
                w.BeginObject()
                    .Field("index", x.index)
                    .Field("name", x.entry.name)
                    .Field("type", x.entry.type)
                    .Field(field, x.reason)
                    .EndObject();
            w.EndArray();
        }
        if (!complete) ErrorField(w, "walk-incomplete", "a read error stopped the walk over the entries");
        w.EndObject();
        std::fputs(w.str().c_str(), out);
        return ok ? kExitOk : kExitFailed;
    }

    std::fprintf(out, " Verifying '%s' (VLT v%s): %llu live blocks.\n", SafeText(path).c_str(),
                 head.versionText.c_str(), static_cast<unsigned long long>(f.live));
    for (const Failure& x : f.failures)
        std::fprintf(out, " - Error: block %llu '%s' (%s): %s.\n", static_cast<unsigned long long>(x.index),
                     SafeText(x.entry.name).c_str(), SafeText(x.entry.type).c_str(), x.reason.c_str());
    for (const Failure& x : f.notes)
        std::fprintf(out, " - Info: block %llu '%s' (%s): %s.\n", static_cast<unsigned long long>(x.index),
                     SafeText(x.entry.name).c_str(), SafeText(x.entry.type).c_str(), x.reason.c_str());
    if (!complete)
        std::fprintf(out, " - Error: a read error stopped the walk after %llu entries.\n",
                     static_cast<unsigned long long>(entryCount));
    if (f.legacy > 0)
        std::fprintf(out,
                     " - Info: %llu block%s the 1.0 layout, which loading through the SDK upgrades in place; "
                     "%s decoded from a copy.\n",
                     static_cast<unsigned long long>(f.legacy), f.legacy == 1 ? " uses" : "s use",
                     f.legacy == 1 ? "it was" : "they were");
    std::fprintf(out, " - %llu of %llu blocks are sound.\n", static_cast<unsigned long long>(sound),
                 static_cast<unsigned long long>(f.live));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

int VerifyPackage(const std::string& path, bool json, FILE* out) {
    const Head head = ReadHead(path);
    std::string why;
    const int pkg = OpenChecked(path, head, why);
    if (pkg < 1) return Refuse(path, StatusOf(head), why, json, out);

    // The first walk counts the entries and the live blocks of each pair.
    Verifier v(pkg);
    uint64_t count = 0;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    int r = g_pStuffVLT->FindFirst(pkg, &info);
    for (; r == 1; r = g_pStuffVLT->FindNext(pkg, &info)) {
        const Entry e = kinds::EntryOf(info);
        if (!e.deleted() && !v.Count(e)) {
            g_pStuffVLT->Close(pkg);
            return Refuse(path, "unreadable", "it holds more blocks than can be counted", json, out);
        }
        ++count;
        std::memset(&info, 0, sizeof info);
    }
    const bool walked = r == 0;
    if (count == 0 && head.entryBytes > 0 && walked) {
        g_pStuffVLT->Close(pkg);
        return Refuse(path, "unreadable", "no entry can be read: the package is protected or holds no block marker",
                      json, out);
    }

    const Findings findings = VerifyEntries(v, pkg, count);
    g_pStuffVLT->Close(pkg);
    return ReportVerify(path, head, count, walked, findings, json, out);
}

namespace {

int RunVerify(const Invocation& inv) { return VerifyPackage(inv.paths[0], inv.json, inv.out); }

}  // namespace

const CommandRow kVerifyCommand = {
    "--verify",
    1,
    1,
    "--verify needs exactly one package path",
    false,
    true,
    kOptJson | kOptQuiet | kOptJobs,
    "  bundlex --verify PACKAGE [--json]\n"
    "      Open the package and decode every live block through its class; one line\n"
    "      per block that fails, then a summary. Never writes to the package.\n",
    &RunVerify,
};
