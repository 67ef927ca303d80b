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

#include "Commands.h"
#include "CommandsSupport.h"
#include "Converter.h"
#include "Driver.h"
#include "JsonWriter.h"
#include "PackageStage.h"
#include "SdkHandles.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/Kinds.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

namespace {

using namespace commands;


std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

std::string Num(long long v) { return std::to_string(v); }

// What every graphic resource has: its surface and how it blends.
struct Graphic {
    SDL_Surface* s = nullptr;
    bool perPixel = false;
    int alpha = 255;             // per-surface alpha
    uint32_t key = kNoColorKey;  // recorded colour key
};

std::string KeyText(uint32_t key) { return key == kNoColorKey ? "none" : Hex(key); }

bool SameFormat(const SDL_PixelFormat* a, const SDL_PixelFormat* b) {
    return a->BitsPerPixel == b->BitsPerPixel && a->Rmask == b->Rmask && a->Gmask == b->Gmask && a->Bmask == b->Bmask &&
           a->Amask == b->Amask && !a->palette == !b->palette;
}

// Whether a key is a value a pixel of this format can hold.
bool IsPixelValue(const SDL_PixelFormat* f, uint32_t key) {
    if (f->BitsPerPixel == 8) return key < 256;
    const uint32_t used = f->Rmask | f->Gmask | f->Bmask | f->Amask;
    return (key & ~used) == 0;
}

std::string RgbaText(uint8_t r, uint8_t g, uint8_t b, uint8_t a, bool withAlpha) {
    char buf[48];
    if (withAlpha)
        std::snprintf(buf, sizeof buf, "RGBA(%u,%u,%u,%u)", r, g, b, a);
    else
        std::snprintf(buf, sizeof buf, "RGB(%u,%u,%u)", r, g, b);
    return buf;
}

class SurfaceLock {
public:
    explicit SurfaceLock(SDL_Surface* s) : s_(s), locked_(SDL_MUSTLOCK(s) && SDL_LockSurface(s) == 0) {}
    ~SurfaceLock() {
        if (locked_) SDL_UnlockSurface(s_);
    }
    bool ok() const { return !SDL_MUSTLOCK(s_) || locked_; }

private:
    SDL_Surface* s_;
    bool locked_;
};

// The differences between two graphic resources: size, alpha kind, alpha,
// colour key and the pixels (colours through each surface's own format,
// so a change of depth alone is no difference).
void CompareGraphic(const Graphic& a, const Graphic& b, std::vector<std::string>& diffs) {
    if (a.s->w != b.s->w || a.s->h != b.s->h) {
        diffs.push_back("size " + Num(a.s->w) + "x" + Num(a.s->h) + " became " + Num(b.s->w) + "x" + Num(b.s->h));
        return;
    }
    if (a.perPixel != b.perPixel) {
        diffs.push_back(std::string("alpha kind ") + (a.perPixel ? "per-pixel" : "per-surface") + " became " +
                        (b.perPixel ? "per-pixel" : "per-surface"));
    } else if (!a.perPixel && a.alpha != b.alpha) {
        diffs.push_back("per-surface alpha " + Num(a.alpha) + " became " + Num(b.alpha));
    }
    if ((a.key == kNoColorKey) != (b.key == kNoColorKey)) {
        diffs.push_back("colour key " + KeyText(a.key) + " became " + KeyText(b.key));
    } else if (a.key != kNoColorKey) {
        const SDL_PixelFormat* fa = a.s->format;
        const SDL_PixelFormat* fb = b.s->format;
        uint8_t r1 = 0, g1 = 0, b1 = 0, r2 = 0, g2 = 0, b2 = 0;
        SDL_GetRGB(a.key, a.s->format, &r1, &g1, &b1);
        SDL_GetRGB(b.key, b.s->format, &r2, &g2, &b2);
        const bool rawCounts = SameFormat(fa, fb) || !IsPixelValue(fa, a.key) || !IsPixelValue(fb, b.key);
        if (rawCounts ? a.key != b.key : (r1 != r2 || g1 != g2 || b1 != b2)) {
            std::string d = "colour key " + Hex(a.key) + " " + RgbaText(r1, g1, b1, 0, false) + " became " +
                            Hex(b.key) + " " + RgbaText(r2, g2, b2, 0, false);
            if (!IsPixelValue(fa, a.key)) d += " (the original key is not a pixel value of its surface)";
            diffs.push_back(d);
        }
    }
    SurfaceLock la(a.s), lb(b.s);
    if (!la.ok() || !lb.ok()) {
        diffs.push_back("the pixels cannot be read");
        return;
    }
    const bool withAlpha = a.s->format->Amask != 0 || b.s->format->Amask != 0;
    long long differing = 0;
    std::string first;
    for (int y = 0; y < a.s->h; ++y) {
        for (int x = 0; x < a.s->w; ++x) {
            uint8_t r1 = 0, g1 = 0, b1 = 0, a1 = 255, r2 = 0, g2 = 0, b2 = 0, a2 = 255;
            SDL_GetRGBA(CFont::CFontGetPixel(a.s, x, y), a.s->format, &r1, &g1, &b1, &a1);
            SDL_GetRGBA(CFont::CFontGetPixel(b.s, x, y), b.s->format, &r2, &g2, &b2, &a2);
            if (r1 == r2 && g1 == g2 && b1 == b2 && (!withAlpha || a1 == a2)) continue;
            if (differing++ == 0)
                first = "pixel (" + Num(x) + "," + Num(y) + ") " + RgbaText(r1, g1, b1, a1, withAlpha) + " became " +
                        RgbaText(r2, g2, b2, a2, withAlpha);
        }
    }
    if (differing > 0)
        diffs.push_back(first + (differing > 1 ? " (" + Num(differing) + " pixels differ)" : std::string()));
}


void CompareBytes(const Payload& a, const Payload& b, std::vector<std::string>& diffs) {
    const uint32_t na = a.info.data ? a.info.size : 0;
    const uint32_t nb = b.info.data ? b.info.size : 0;
    const uint32_t common = std::min(na, nb);
    for (uint32_t i = 0; i < common; ++i) {
        if (a.info.data[i] != b.info.data[i]) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "byte %u 0x%02X became 0x%02X", static_cast<unsigned>(i), a.info.data[i],
                          b.info.data[i]);
            diffs.push_back(buf);
            break;
        }
    }
    if (na != nb) diffs.push_back("size " + Num(na) + " bytes became " + Num(nb) + " bytes");
}

// One side of a comparison: the package and the entry found there.
struct Side {
    int pkg;
    const Entry* entry;
};

const char* const kOriginalFails = "the original does not load, so it cannot be carried";
const char* const kCopyFails = "it does not load after the round trip";

void CompareImage(const Side& a, const Side& b, std::vector<std::string>& diffs) {
    SurfacePtr sa(g_pImage->Load(a.pkg, a.entry->name.c_str(), nullptr));
    SurfacePtr sb(g_pImage->Load(b.pkg, b.entry->name.c_str(), nullptr));
    if (!sa || !sb) {
        diffs.push_back(!sa ? kOriginalFails : kCopyFails);
        return;
    }
    auto view = [](SDL_Surface* s) {
        Graphic g;
        g.s = s;
        g.perPixel = IImage::HasAlphaChannel(s);
        g.alpha = s->format->alpha;
        g.key = (s->flags & SDL_SRCCOLORKEY) ? s->format->colorkey : kNoColorKey;
        if (g.perPixel) g.key = kNoColorKey;
        return g;
    };
    CompareGraphic(view(sa.get()), view(sb.get()), diffs);
}

void CompareTile(const Side& a, const Side& b, const char* type, std::vector<std::string>& diffs) {
    CTile ta, tb;
    const bool la = ta.Load(a.pkg, a.entry->name.c_str(), type);
    const bool lb = tb.Load(b.pkg, b.entry->name.c_str(), type);
    if (!la || !lb || !ta.GetSurface() || !tb.GetSurface()) {
        diffs.push_back(!la || !ta.GetSurface() ? kOriginalFails : kCopyFails);
        return;
    }
    if (ta.GetPositionX() != tb.GetPositionX() || ta.GetPositionY() != tb.GetPositionY())
        diffs.push_back("position (" + Num(ta.GetPositionX()) + "," + Num(ta.GetPositionY()) + ") became (" +
                        Num(tb.GetPositionX()) + "," + Num(tb.GetPositionY()) + ")");
    int wa = 0, ha = 0, wb = 0, hb = 0;
    const int sa = ta.GetTileset(&wa, &ha);
    const int sb = tb.GetTileset(&wb, &hb);
    auto tileset = [](int on, int w, int h) { return on ? Num(w) + "x" + Num(h) : std::string("none"); };
    if ((sa != 0) != (sb != 0) || (sa && (wa != wb || ha != hb)))
        diffs.push_back("tileset " + tileset(sa, wa, ha) + " became " + tileset(sb, wb, hb));
    auto view = [](const CTile& t) {
        Graphic g;
        g.s = t.GetSurface();
        g.perPixel = t.GetAlpha() == 256;
        g.alpha = t.GetAlpha();
        g.key = t.GetColorKey();
        return g;
    };
    CompareGraphic(view(ta), view(tb), diffs);
}

void CompareSprite(const Side& a, const Side& b, std::vector<std::string>& diffs) {
    CSprite pa, pb;
    const bool la = pa.Load(a.pkg, a.entry->name.c_str(), TypeOf(BlockKind::Sprite)) > 0 && pa.GetSurface();
    const bool lb = pb.Load(b.pkg, b.entry->name.c_str(), TypeOf(BlockKind::Sprite)) > 0 && pb.GetSurface();
    if (!la || !lb) {
        diffs.push_back(!la ? kOriginalFails : kCopyFails);
        return;
    }
    int fwa = 0, fha = 0, fwb = 0, fhb = 0;
    pa.GetOffset(&fwa, &fha);
    pb.GetOffset(&fwb, &fhb);
    if (fwa != fwb || fha != fhb)
        diffs.push_back("frame size " + Num(fwa) + "x" + Num(fha) + " became " + Num(fwb) + "x" + Num(fhb));
    const int na = pa.GetAnimationCount(), nb = pb.GetAnimationCount();
    if (na != nb) diffs.push_back("animation count " + Num(na) + " became " + Num(nb));
    const int n = std::min(na, nb);
    bool tableDiffers = false;
    for (int anim = 1; anim <= n && !tableDiffers; ++anim) {
        uint16_t t1 = 0, s1 = 0, f1 = 0, st1 = 0, e1 = 0, t2 = 0, s2 = 0, f2 = 0, st2 = 0, e2 = 0;
        int16_t hx1 = 0, hy1 = 0, hx2 = 0, hy2 = 0;
        pa.GetAnimProperties(anim, &t1, &s1, &f1, &hx1, &hy1, &st1, &e1);
        pb.GetAnimProperties(anim, &t2, &s2, &f2, &hx2, &hy2, &st2, &e2);
        const std::string at = "animation " + Num(anim - 1) + ": ";
        auto field = [&](const char* what, long long v1, long long v2) {
            if (v1 == v2 || tableDiffers) return;
            diffs.push_back(at + what + " " + Num(v1) + " became " + Num(v2));
            tableDiffers = true;
        };
        field("type", t1, t2);
        field("status", s1, s2);
        field("frame count", f1, f2);
        field("hot spot x", hx1, hx2);
        field("hot spot y", hy1, hy2);
        field("start frame", st1, st2);
        field("end frame", e1, e2);
        for (int f = 1; f <= f1 && !tableDiffers; ++f) {
            uint32_t ms1 = 0, ms2 = 0;
            pa.GetFrame(anim, f, &ms1);
            pb.GetFrame(anim, f, &ms2);
            if (ms1 != ms2) {
                diffs.push_back(at + "frame " + Num(f - 1) + " time " + Num(ms1) + " ms became " + Num(ms2) + " ms");
                tableDiffers = true;
            }
        }
    }
    auto view = [](CSprite& p) {
        Graphic g;
        g.s = p.GetSurface();
        g.perPixel = p.GetAlpha() == 256;
        g.alpha = p.GetAlpha();
        g.key = p.GetColorKey();
        return g;
    };
    CompareGraphic(view(pa), view(pb), diffs);
}

void CompareFont(const Side& a, const Side& b, std::vector<std::string>& diffs) {
    CFont fa, fb;
    const bool la = fa.Load(a.pkg, a.entry->name.c_str()) && fa.GetSurface();
    const bool lb = fb.Load(b.pkg, b.entry->name.c_str()) && fb.GetSurface();
    if (!la || !lb) {
        diffs.push_back(!la ? kOriginalFails : kCopyFails);
        return;
    }
    if (fa.GetKerning() != fb.GetKerning())
        diffs.push_back("kerning " + Num(fa.GetKerning()) + " became " + Num(fb.GetKerning()));
    auto view = [](const CFont& f) {
        Graphic g;
        g.s = f.GetSurface();
        g.perPixel = f.GetAlpha() == 256;
        g.alpha = f.GetAlpha();
        g.key = f.GetColorKey();
        return g;
    };
    CompareGraphic(view(fa), view(fb), diffs);
}

void CompareWidget(const Side& a, const Side& b, std::vector<std::string>& diffs) {
    Payload pa, pb;
    ButtonRecord ra, rb;
    const bool la = pa.Load(a.pkg, a.entry->type, a.entry->name, a.entry->size) && pa.info.data &&
                    IButton::DecodePayload(pa.info.data, pa.info.size, ra);
    const bool lb = pb.Load(b.pkg, b.entry->type, b.entry->name, b.entry->size) && pb.info.data &&
                    IButton::DecodePayload(pb.info.data, pb.info.size, rb);
    if (!la || !lb) {
        diffs.push_back(!la ? kOriginalFails : kCopyFails);
        return;
    }
    auto field = [&](const char* what, long long v1, long long v2) {
        if (v1 != v2) diffs.push_back(std::string(what) + " " + Num(v1) + " became " + Num(v2));
    };
    field("type code", ra.type, rb.type);
    field("key", ra.key, rb.key);
    if (ra.selectBox != rb.selectBox)
        diffs.push_back("selection box colour " + Hex(ra.selectBox) + " became " + Hex(rb.selectBox));
    field("x position", ra.x, rb.x);
    field("y position", ra.y, rb.y);
    field("range", ra.range, rb.range);
    field("value", ra.value, rb.value);
}

void CompareRaw(const Side& a, const Side& b, bool mode, std::vector<std::string>& diffs) {
    Payload pa, pb;
    if (!pa.Load(a.pkg, a.entry->type, a.entry->name, a.entry->size)) {
        diffs.push_back(kOriginalFails);
        return;
    }
    if (!pb.Load(b.pkg, b.entry->type, b.entry->name, b.entry->size)) {
        diffs.push_back(kCopyFails);
        return;
    }
    CompareBytes(pa, pb, diffs);
    if (mode && a.entry->mode != b.entry->mode)
        diffs.push_back(std::string("storage mode ") + ModeWord(a.entry->mode) + " became " + ModeWord(b.entry->mode));
}

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
    const kinds::KindRow* row = kinds::Find(a.type);
    const Side sa{pkgA, &a};
    const Side sb{pkgB, &b};
    const size_t before = diffs.size();
    switch (row ? row->kind : BlockKind::File) {
        case BlockKind::Image: CompareImage(sa, sb, diffs); break;
        case BlockKind::Tile:
        case BlockKind::StateImage: CompareTile(sa, sb, row->type, diffs); break;
        case BlockKind::Sprite: CompareSprite(sa, sb, diffs); break;
        case BlockKind::Font: CompareFont(sa, sb, diffs); break;
        case BlockKind::Widget: CompareWidget(sa, sb, diffs); break;
        case BlockKind::Sound:
        case BlockKind::Music: CompareRaw(sa, sb, false, diffs); break;
        default: CompareRaw(sa, sb, true, diffs); break;
    }
    for (size_t i = before; i < diffs.size(); ++i) {
        if (diffs[i] == kOriginalFails) diffs[i] = aFails;
        if (diffs[i] == kCopyFails) diffs[i] = bFails;
    }
}

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
    const auto refIndex = LiveIndex(refEntries);
    const auto newIndex = LiveIndex(newEntries);
    std::set<std::string> widgets;
    for (const Entry& e : refEntries)
        if (!e.deleted() && e.type == TypeOf(BlockKind::Widget)) widgets.insert(e.name);
    auto ownedByWidget = [&](const std::string& name) {
        for (const ButtonStateImage& image : IButton::kStateImages) {
            const char* suffix = image.suffix;
            const size_t n = std::strlen(suffix);
            if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0 &&
                widgets.count(name.substr(0, name.size() - n)))
                return true;
        }
        return false;
    };

    std::vector<Difference> differences;
    for (size_t i = 0; i < refEntries.size(); ++i) {
        const Entry& e = refEntries[i];
        if (e.deleted()) continue;
        const kinds::KindRow* row = kinds::Find(e.type);
        const std::string newType = row ? row->type : e.type;
        std::vector<std::string> diffs;
        auto found = newIndex.find({e.name, newType});
        if (refIndex.at({e.name, e.type}) != &e) {
            diffs.push_back("another live block has the same name and type; only the first of them is carried");
        } else if (!exported) {
            diffs.push_back("the export of the package failed");
        } else if (found == newIndex.end() || newPkg < 1 || refPkg < 1) {
            if (!row)
                diffs.push_back("blocks of type '" + SafeText(e.type) +
                                "' are not carried by the interchange document");
            else if (row->kind == BlockKind::StateImage && !ownedByWidget(e.name))
                diffs.push_back(
                    "it is missing after the round trip: a state image that belongs to no widget is not "
                    "exported");
            else if (!imported)
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
    if (newPkg >= 1) g_pStuffVLT->Close(newPkg);
    if (refPkg >= 1) g_pStuffVLT->Close(refPkg);

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
            .Field("exported", exported || resources == 0)
            .Field("imported", imported || resources == 0);
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
