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
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "SdkHandles.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

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

struct StateImageRef {
    const char* suffix;
    const char* state;
};
const StateImageRef kStateImages[] = {
    {"_n", "normal"}, {"_s", "hovered"}, {"_p", "pressed"}, {"_o", "deactivated"}};

class Verifier {
public:
    Verifier(int pkg, const std::vector<Entry>& entries) : pkg_(pkg), entries_(entries) {
        for (const Entry& e : entries_)
            if (!e.deleted()) liveByKey_[{e.name, e.type}]++;
    }

    // The reason a live entry is not sound, or an empty text; note gets
    // what is worth saying about a sound one.
    std::string Check(const Entry& e, std::string& note) {
        if (liveByKey_[{e.name, e.type}] > 1)
            return "another live block has the same name and type; only the first of them can be loaded";
        const KindRow* row = FindKind(e.type);
        Payload p;
        // Images load through IImage, which reads the block itself.
        if (row && row->kind == BlockKind::Image) {
            SurfacePtr s(g_pImage ? g_pImage->Load(pkg_, e.name.c_str(), nullptr) : nullptr);
            if (s) return std::string();
            const std::string why = LoadPayload(pkg_, e, p);
            return why.empty() ? "the image does not decode (header, depth or pixel area out of range)" : why;
        }
        std::string why = LoadPayload(pkg_, e, p);
        if (!why.empty()) return why;
        if (!row) return std::string();  // raw bytes: loading is all there is
        const uint8_t* data = p.info.data;
        const size_t size = p.info.size;
        switch (row->kind) {
            case BlockKind::Tile:
            case BlockKind::StateImage: {
                SurfacePtr s(CTile::DecodeSurface(data, size, row->legacy));
                if (!s) return "the tile does not decode (its sizes, depth or pixel area do not match)";
                return std::string();
            }
            case BlockKind::Sprite: {
                SurfacePtr s(CSprite::DecodeSurface(data, size, row->legacy));
                if (!s) return "the sprite does not decode (its animation table, depth or pixel area do not match)";
                return std::string();
            }
            case BlockKind::Font: {
                CFont font;
                const char* reason = nullptr;
                const int r = font.CreateFromPayload(data, size, row->legacy, &reason);
                if (r == CFont::kCreated) return std::string();
                if (r < 0) return std::string("the font does not decode: ") + (reason ? reason : "malformed payload");
                return "the font bitmap does not hold 94 glyphs separated by marker columns";
            }
            case BlockKind::Sound:
            case BlockKind::Music:
                if (size == 0) return "the block is empty: it holds no audio file";
                NoteAudio(e, row->kind == BlockKind::Music, note);
                return std::string();
            case BlockKind::Widget: return CheckWidget(e, data, size);
            default: return std::string();
        }
    }

    // Widgets are judged after every other block: a widget with a damaged
    // state image is not sound either.
    void NoteResult(const Entry& e, const std::string& why) {
        if (!why.empty()) damaged_.insert({e.name, e.type});
    }

private:
    // A sound or music block that loads holds the user's file: one that does
    // not decode is only noted.
    void NoteAudio(const Entry& e, bool music, std::string& note) {
        AudioInfo ai;
        std::memset(&ai, 0, sizeof ai);
        const bool decoded = g_pSoundFX && (music ? g_pSoundFX->MusicInfo(pkg_, e.name.c_str(), &ai)
                                                  : g_pSoundFX->SoundInfo(pkg_, e.name.c_str(), &ai));
        if (!decoded)
            note = music ? "the music is not an Ogg Vorbis, IT, XM, S3M or MOD file that the SDK decodes; its bytes "
                           "are kept and exported as they are"
                         : "the sound is not a WAV, AIFF, VOC or Ogg Vorbis file that the SDK decodes; its bytes are "
                           "kept and exported as they are";
    }

    bool LiveStateImage(const std::string& name, bool& damaged) const {
        for (const char* type : {"TILB2", "TILB"}) {
            auto it = liveByKey_.find({name, type});
            if (it != liveByKey_.end() && it->second > 0) {
                damaged = damaged_.count({name, type}) > 0;
                return true;
            }
        }
        return false;
    }

    std::string CheckWidget(const Entry& e, const uint8_t* data, size_t size) {
        ButtonRecord r;
        if (!IButton::DecodePayload(data, size, r))
            return "the widget record is " + std::to_string(size) + " bytes long instead of 24";
        if (!IButton::GetTypeName(r.type)) return "the widget type code " + std::to_string(r.type) + " is unknown";
        if (r.key > IButton::kMaxKey) return "the key code " + std::to_string(r.key) + " is above 321";
        if ((r.type == kButtonSlider || r.type == kButtonProgressBar) &&
            (r.range < 0 || r.range > 255 || r.value < 0 || r.value > r.range))
            return "range " + std::to_string(r.range) + " and value " + std::to_string(r.value) +
                   " are outside 0 to 255 and 0 to the range";
        for (const StateImageRef& ref : kStateImages) {
            const bool needed = std::strcmp(ref.suffix, "_s") != 0 || r.type == kButtonComplex;
            bool damaged = false;
            const std::string name = e.name + ref.suffix;
            if (!LiveStateImage(name, damaged)) {
                if (needed) return "its " + std::string(ref.state) + " state image '" + SafeText(name) + "' is missing";
            } else if (damaged) {
                return "its " + std::string(ref.state) + " state image '" + SafeText(name) + "' is damaged";
            }
        }
        return std::string();
    }

    int pkg_;
    const std::vector<Entry>& entries_;
    std::map<std::pair<std::string, std::string>, int> liveByKey_;
    std::set<std::pair<std::string, std::string>> damaged_;
};

// A block named in the report: a failure with its reason, or a note.
struct Failure {
    uint64_t index;
    const Entry* entry;
    std::string reason;
};

int Refuse(const std::string& path, const char* status, const std::string& why, bool json, FILE* out) {
    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", false).Field("status", status).Field("error", why).EndObject();
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

}  // namespace

int VerifyPackage(const std::string& path, bool json, FILE* out) {
    const Head head = ReadHead(path);
    std::string why;
    const int pkg = OpenChecked(path, head, why);
    if (pkg < 1) return Refuse(path, StatusOf(head), why, json, out);

    std::vector<Entry> entries;
    const int walked = WalkEntries(pkg, entries);
    if (entries.empty() && head.entryBytes > 0 && walked == 1) {
        g_pStuffVLT->Close(pkg);
        return Refuse(path, "unreadable", "no entry can be read: the package is protected or holds no block marker",
                      json, out);
    }

    Verifier v(pkg, entries);
    std::vector<Failure> failures, notes;
    std::vector<std::pair<uint64_t, const Entry*>> widgets;
    uint64_t live = 0, legacy = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.deleted()) continue;
        ++live;
        const KindRow* row = FindKind(e.type);
        if (row && row->legacy) ++legacy;
        if (row && row->kind == BlockKind::Widget) {
            widgets.push_back({i + 1, &e});
            continue;
        }
        std::string note;
        const std::string reason = v.Check(e, note);
        v.NoteResult(e, reason);
        if (!reason.empty()) failures.push_back({i + 1, &e, reason});
        if (!note.empty()) notes.push_back({i + 1, &e, note});
    }
    for (const auto& w : widgets) {
        std::string note;
        const std::string reason = v.Check(*w.second, note);
        if (!reason.empty()) failures.push_back({w.first, w.second, reason});
    }
    g_pStuffVLT->Close(pkg);
    std::sort(failures.begin(), failures.end(), [](const Failure& a, const Failure& b) { return a.index < b.index; });

    const bool complete = walked == 1;
    const uint64_t sound = live - failures.size();
    const bool ok = complete && failures.empty();

    if (json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", path)
            .Field("ok", ok)
            .Field("status", ok ? "sound" : "damaged")
            .Field("version", head.versionText)
            .Field("entries", static_cast<uint64_t>(entries.size()))
            .Field("blocks", live)
            .Field("sound", sound)
            .Field("failed", static_cast<uint64_t>(failures.size()))
            .Field("legacy_blocks", legacy);
        for (const auto& list : {std::make_pair("failures", &failures), std::make_pair("notes", &notes)}) {
            const char* field = list.second == &failures ? "reason" : "note";
            w.Key(list.first).BeginArray();
            for (const Failure& f : *list.second)
                w.BeginObject()
                    .Field("index", f.index)
                    .Field("name", f.entry->name)
                    .Field("type", f.entry->type)
                    .Field(field, f.reason)
                    .EndObject();
            w.EndArray();
        }
        if (!complete) w.Field("error", "a read error stopped the walk over the entries");
        w.EndObject();
        std::fputs(w.str().c_str(), out);
        return ok ? kExitOk : kExitFailed;
    }

    std::fprintf(out, " Verifying '%s' (VLT v%s): %llu live blocks.\n", SafeText(path).c_str(),
                 head.versionText.c_str(), static_cast<unsigned long long>(live));
    for (const Failure& f : failures)
        std::fprintf(out, " - Error: block %llu '%s' (%s): %s.\n", static_cast<unsigned long long>(f.index),
                     SafeText(f.entry->name).c_str(), SafeText(f.entry->type).c_str(), f.reason.c_str());
    for (const Failure& f : notes)
        std::fprintf(out, " - Info: block %llu '%s' (%s): %s.\n", static_cast<unsigned long long>(f.index),
                     SafeText(f.entry->name).c_str(), SafeText(f.entry->type).c_str(), f.reason.c_str());
    if (!complete)
        std::fprintf(out, " - Error: a read error stopped the walk after %llu entries.\n",
                     static_cast<unsigned long long>(entries.size()));
    if (legacy > 0)
        std::fprintf(out,
                     " - Info: %llu block%s the 1.0 layout, which loading through the SDK upgrades in place; "
                     "%s decoded from a copy.\n",
                     static_cast<unsigned long long>(legacy), legacy == 1 ? " uses" : "s use",
                     legacy == 1 ? "it was" : "they were");
    std::fprintf(out, " - %llu of %llu blocks are sound.\n", static_cast<unsigned long long>(sound),
                 static_cast<unsigned long long>(live));
    return ok ? kExitOk : kExitFailed;
}
