// The sprite kind: a sheet of frames, one animation per row of frames; a
// "sprite" element with one "animation" child per row, each with one
// "frame" child per frame.
#include <algorithm>
#include <cstdio>

#include <SDL.h>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "resources/Sprite.h"

namespace orb {

namespace {

const Elements kElements = {
    {"sprite",
     "ORB",
     "a sprite sheet (SPR2 block; 1.0 SPR blocks are upgraded and exported alike)",
     {NameRow(), SourceRow(), BlendingRow("per-surface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow(),
      Int("xoffset", 1, kIntMax, Need::Required,
          "the width of one frame, in pixels; the sheet's width is a whole number of frames"),
      Int("yoffset", 1, kIntMax, Need::Required,
          "the height of one frame, in pixels; the sheet holds one row of frames per animation")}},
    {"animation",
     "sprite",
     "one animation per row of frames of the sheet, each row once (a child that is no animation fails the sprite)",
     {Int("id", 0, kIntMax, Need::Required, "the animation's row, from 0; at most the sheet's number of rows"),
      IntOf("type", {"2", "4", "8"}, Need::Required, "how the animation plays, as the sprite class numbers it"),
      Int("status", 0, kU16Max, Need::Required, "the animation's status bits, as the sprite class keeps them"),
      Int("frames", kIntMin, kIntMax, Need::Required,
          "the number of frames of the animation; when it has frame children, exactly that many"),
      Int("hotx", kI16Min, kI16Max, Need::Required, "the hot spot's distance from the frame's left edge, in pixels"),
      Int("hoty", kI16Min, kI16Max, Need::Required, "the hot spot's distance from the frame's top edge, in pixels"),
      Int("starframe", 0, kU16Max, Need::Required, "the first frame the animation plays (the format's own spelling)"),
      Int("endframe", 0, kU16Max, Need::Required, "the last frame the animation plays")}},
    {"frame",
     "animation",
     "one frame of the animation and how long it shows (an animation may give none)",
     {Int("id", 0, kIntMax, Need::Required, "the frame's place in its animation, from 0; at most its frames"),
      Int("ms", kIntMin, kIntMax, Need::Required,
          "how long the frame shows, in milliseconds (a 32-bit value: one above 2147483647 is written negative)")}},
};


using namespace exportstep;
using namespace importstep;
using samemeaning::Strictness;

// Sprite block n of package pkg for output: its sheet and frame size. Null
// when it can be cut into frames, else the cause why not.
const char* LoadSheet(CSprite& sprite, int pkg, const std::string& n, SDL_Surface*& sheet, int& fw, int& fh) {
    if (sprite.Load(pkg, n.c_str(), kinds::TypeOf(kinds::Kind::Sprite)) <= 0) return kUnreadableBlock;
    sheet = sprite.GetSurface();
    sprite.GetOffset(&fw, &fh);
    // No row count exists for a frame size of 0: such a sprite cannot be
    // cut, and is reported instead of dividing by it.
    if (!sheet) return kUnreadableBlock;
    if (fw < 1 || fh < 1) return "its frame width or height is 0, so its sheet cannot be cut into frames.";
    return nullptr;
}

// One animation of row a with its frames, as children of the sprite; false
// when the document could not take the animation's element.
bool ExportAnimation(ExportSession& s, CSprite& sprite, int a) {
    uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
    int16_t hotx = 0, hoty = 0;
    sprite.GetAnimProperties(a + 1, &type, &status, &frames, &hotx, &hoty, &start, &end);
    if (!exportstep::Open(s, kAnimationTag)) return false;
    SetInt(s, attr::kId, a);
    SetInt(s, attr::kType, type);
    SetInt(s, attr::kStatus, status);
    SetInt(s, attr::kFrames, frames);
    SetInt(s, attr::kHotX, hotx);
    SetInt(s, attr::kHotY, hoty);
    SetInt(s, attr::kStartFrame, start);
    SetInt(s, attr::kEndFrame, end);
    for (int f = 0; f < frames; ++f) {
        uint32_t ms = 0;
        sprite.GetFrame(a + 1, f + 1, &ms);
        if (!exportstep::Open(s, kFrameTag)) break;
        SetInt(s, attr::kId, f);
        SetInt(s, attr::kMs, static_cast<int>(ms));
        Close(s);
    }
    Close(s);
    return true;
}

bool Export(ExportSession& s, const std::string& n) {
    CSprite sprite;
    SDL_Surface* sheet = nullptr;
    int w = 0, h = 0;
    if (const char* why = LoadSheet(sprite, s.pkg, n, sheet, w, h)) return s.Fail(why);
    Graphic g;
    if (!WriteGraphic(s, kSpriteKind.filePrefix, n, sheet, sprite.GetAlpha() == 256, g)) return false;
    if (!exportstep::Open(s, kSpriteKind.tag())) return false;
    SetText(s, attr::kName, n.c_str());
    SetGraphicAttributes(s, g, kPerSurface);
    SetInt(s, attr::kXOffset, w);
    SetInt(s, attr::kYOffset, h);
    const int rows = sheet->h / h;
    for (int a = 0; a < rows; ++a)
        if (!ExportAnimation(s, sprite, a)) break;
    Close(s);
    return true;
}

// A sheet that is not a whole number of frames (or whose frames do not
// match the animations the document gives it): a resized sheet, mostly.
std::string SheetCause(int w, int h, int fw, int fh) {
    return "the sheet (" + std::to_string(w) + " x " + std::to_string(h) + ") does not fit frames of " +
           std::to_string(fw) + " x " + std::to_string(fh) +
           ": it must be a whole number of frames, with one animation per row of frames (was it resized?).";
}

// One frame of animation animId; false after its warning.
bool ImportFrame(ImportSession& s, CSprite& sprite, int animId, int frames) {
    if (!TagIs(Trovalis.XMLNodeGetName(s.doc), kFrameTag)) {
        PrintWarning("idAnim '%d': no 'frame' tag found.", animId);
        return false;
    }
    int frameId = 0, ms = 0;
    if (!importstep::Int(s, attr::kId, frameId)) {
        PrintWarning("idAnim '%d': no 'id' frame attribute found.", animId);
        return false;
    }
    if (!importstep::Int(s, attr::kMs, ms)) {
        PrintWarning("idAnim '%d': no 'ms' frame attribute found.", animId);
        return false;
    }
    if (frameId < 0 || frameId > frames) {
        PrintWarning("idAnim '%d': idFrame '%d' is out of range [0,%d].", animId, frameId, frames);
        return false;
    }
    sprite.SetFrame(animId + 1, frameId + 1, static_cast<uint32_t>(ms));
    return true;
}

// The frames of one animation; the current element is the animation.
bool ImportFrames(ImportSession& s, CSprite& sprite, int animId, int frames) {
    if (Trovalis.XMLNodeChild(s.doc) != 1) return true;  // no frame children: nothing to check
    int i = 0;
    bool ok = true;
    while (i < frames) {
        if (!ImportFrame(s, sprite, animId, frames)) {
            ok = false;
            break;
        }
        ++i;
        if (Trovalis.XMLNodeNext(s.doc) != 1) break;
    }
    Trovalis.XMLNodeParent(s.doc);
    if (!ok) return false;
    if (i != frames) {
        PrintWarning("idAnim '%d': parsed '%d' frames from a total of '%d'.", animId, i, frames);
        return false;
    }
    return true;
}

// One animation; the current element is the sprite's child.
bool ImportAnimation(ImportSession& s, CSprite& sprite, int rows) {
    if (!TagIs(Trovalis.XMLNodeGetName(s.doc), kAnimationTag)) {
        PrintWarning("no 'animation' tag found.");
        return false;
    }
    int id = 0, type = 0, status = 0, frames = 0, hotx = 0, hoty = 0, start = 0, end = 0;
    if (!importstep::Int(s, attr::kId, id) || !importstep::Int(s, attr::kType, type) ||
        !importstep::Int(s, attr::kStatus, status, 0, kU16) || !importstep::Int(s, attr::kFrames, frames) ||
        !importstep::Int(s, attr::kHotX, hotx, kI16Min, kI16Max) ||
        !importstep::Int(s, attr::kHotY, hoty, kI16Min, kI16Max) ||
        !importstep::Int(s, attr::kStartFrame, start, 0, kU16) || !importstep::Int(s, attr::kEndFrame, end, 0, kU16))
        return false;
    if (id < 0 || id > rows) {
        PrintWarning("idAnim '%d' is out of range [0,%d].", id, rows);
        return false;
    }
    if (type != 2 && type != 4 && type != 8) {
        PrintWarning("type '%d' is unknown.", type);
        return false;
    }
    sprite.SetAnimProperties(id + 1, static_cast<uint16_t>(type), static_cast<uint16_t>(status),
                             static_cast<int16_t>(hotx), static_cast<int16_t>(hoty), static_cast<uint16_t>(start),
                             static_cast<uint16_t>(end));
    return ImportFrames(s, sprite, id, frames);
}

// The sheet of the element's payload cut into frames of xo x yo, with its
// colour key and alpha per surface.
bool CreateSheet(ImportSession& s, CSprite& sprite, bool perPixel, int xo, int yo) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    SurfacePtr surface(perPixel ? LoadPerPixel(bytes) : DecodeImageFile(bytes));
    if (!surface) return PayloadFails(s, source, bytes, perPixel ? "PNG" : "BMP");
    if (sprite.Create(surface.get(), "temp", xo, yo) <= 0) return Fail(s, SheetCause(surface->w, surface->h, xo, yo));
    return perPixel || ReadSurfaceKeysInto(s, surface.get(), sprite);
}

// The animations, one per row of the sheet.
bool ImportAnimations(ImportSession& s, CSprite& sprite, SDL_Surface* sheet, int xo, int yo) {
    const int rows = sheet->h / yo;
    int parsed = 0;
    if (Trovalis.XMLNodeChild(s.doc) == 1) {
        bool ok = true;
        do {
            ++parsed;
            ok = ImportAnimation(s, sprite, rows);
        } while (ok && Trovalis.XMLNodeNext(s.doc) == 1);
        Trovalis.XMLNodeParent(s.doc);
        if (!ok) return false;
    }
    if (parsed != rows) {
        PrintWarning("parsed '%d' animations from a total of '%d'.", parsed, rows);
        return Fail(s, SheetCause(sheet->w, sheet->h, xo, yo));
    }
    return true;
}

void CompareSprites(CSprite& a, CSprite& b, Strictness how, std::vector<std::string>& diffs);

bool Import(ImportSession& s, std::string& name) {
    std::string blending;
    int xo = 0, yo = 0;
    if (!ReadName(s, name) || !Text(s, attr::kAlphaBlending, blending) || !importstep::Int(s, attr::kXOffset, xo) ||
        !importstep::Int(s, attr::kYOffset, yo))
        return false;
    // A frame size below 1 has no row count: refused before any division.
    if (xo < 1 || yo < 1) return Fail(s, "its frame size (\"xoffset\", \"yoffset\") is below 1.");
    CSprite sprite;
    if (!CreateSheet(s, sprite, IsPerPixel(blending.c_str()), xo, yo)) return false;
    SDL_Surface* sheet = sprite.GetSurface();
    if (!sheet || !ImportAnimations(s, sprite, sheet, xo, yo)) return false;
    sprite.SetName(name.c_str());
    const char* type = kinds::TypeOf(kinds::Kind::Sprite);
    const auto same = [&] {
        CSprite stored;
        std::vector<std::string> diffs;
        if (stored.Load(s.pkg, name.c_str(), type) <= 0) return false;
        CompareSprites(stored, sprite, Strictness::Meaning, diffs);
        return diffs.empty();
    };
    if (KeptAsStored(s, type, name, same)) return true;
    return StoreReplacing(s, type, name, [&] { return sprite.Save(s.pkg, type); });
}

// The animation's properties and frames as a table: a difference in one
// animation stops the comparison of the table there.
void CompareAnimations(CSprite& a, CSprite& b, std::vector<std::string>& diffs) {
    using samemeaning::Became;
    using samemeaning::Num;
    const int n = std::min(a.GetAnimationCount(), b.GetAnimationCount());
    bool tableDiffers = false;
    for (int anim = 1; anim <= n && !tableDiffers; ++anim) {
        uint16_t t1 = 0, s1 = 0, f1 = 0, st1 = 0, e1 = 0, t2 = 0, s2 = 0, f2 = 0, st2 = 0, e2 = 0;
        int16_t hx1 = 0, hy1 = 0, hx2 = 0, hy2 = 0;
        a.GetAnimProperties(anim, &t1, &s1, &f1, &hx1, &hy1, &st1, &e1);
        b.GetAnimProperties(anim, &t2, &s2, &f2, &hx2, &hy2, &st2, &e2);
        const std::string at = "animation " + Num(anim - 1) + ": ";
        auto field = [&](const char* what, long long v1, long long v2) {
            if (v1 == v2 || tableDiffers) return;
            diffs.push_back(at + Became(what, v1, v2));
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
            a.GetFrame(anim, f, &ms1);
            b.GetFrame(anim, f, &ms2);
            if (ms1 != ms2) {
                diffs.push_back(at + "frame " + Num(f - 1) + " time " + Num(ms1) + " ms became " + Num(ms2) + " ms");
                tableDiffers = true;
            }
        }
    }
}

void CompareSprites(CSprite& a, CSprite& b, Strictness how, std::vector<std::string>& diffs) {
    using samemeaning::Num;
    int fwa = 0, fha = 0, fwb = 0, fhb = 0;
    a.GetOffset(&fwa, &fha);
    b.GetOffset(&fwb, &fhb);
    if (fwa != fwb || fha != fhb)
        diffs.push_back("frame size " + Num(fwa) + "x" + Num(fha) + " became " + Num(fwb) + "x" + Num(fhb));
    const int na = a.GetAnimationCount(), nb = b.GetAnimationCount();
    if (na != nb) diffs.push_back(samemeaning::Became("animation count", na, nb));
    CompareAnimations(a, b, diffs);
    samemeaning::CompareLooks(samemeaning::LookOf(a), samemeaning::LookOf(b), how, diffs);
}

// The gallery's row of one animation: its player and its frame strip, at
// most up to kMaxCells frames shown in all.
std::string ShowAnimation(CSprite& sprite, int a, int fw, int fh, int& shown) {
    using gallery::Cut;
    using gallery::N;
    uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
    int16_t hx = 0, hy = 0;
    sprite.GetAnimProperties(a, &type, &status, &frames, &hx, &hy, &start, &end);
    const int y = (a - 1) * fh;
    std::string ms, strip;
    for (int f = 1; f <= frames; ++f) {
        uint32_t t = 0;
        sprite.GetFrame(a, f, &t);
        if (shown >= gallery::kMaxCells) break;
        ++shown;
        ms += (ms.empty() ? "" : ",") + N(t);
        strip += "<span class=\"cell frame\">" + Cut((f - 1) * fw, y, fw, fh) + N(f - 1) + " &middot; " + N(t) +
                 " ms</span>";
    }
    return "<div class=\"meta\">animation " + N(a - 1) + ": " + N(frames) + " frames, type " + N(type) + ", hot spot " +
           N(hx) + ", " + N(hy) + "</div>\n<div class=\"anim\" data-ms=\"" + ms + "\" data-fw=\"" + N(fw) +
           "\" data-y=\"" + N(y) + "\">" + Cut(0, y, fw, fh) + "</div>\n<div class=\"cells\">" + strip + "</div>\n";
}

bool Show(gallery::Session& s, const kinds::Entry& e) {
    using gallery::N;
    CSprite sprite;
    SDL_Surface* sheet = nullptr;
    int fw = 0, fh = 0;
    if (const char* why = LoadSheet(sprite, s.pkg, e.name, sheet, fw, fh)) return s.Fail(why);
    std::string url;
    if (!gallery::WritePng(s, "spr_", e.name, sheet, url)) return false;
    const int anims = sprite.GetAnimationCount();
    long long total = 0;
    for (int a = 1; a <= anims; ++a) {
        uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
        int16_t hx = 0, hy = 0;
        sprite.GetAnimProperties(a, &type, &status, &frames, &hx, &hy, &start, &end);
        total += frames;
    }
    std::string body = gallery::Open("sprite", e.name, " data-frames=\"" + N(total) + "\"", url);
    int shown = 0;
    for (int a = 1; a <= anims; ++a) body += ShowAnimation(sprite, a, fw, fh, shown);
    body += "<div class=\"meta\"><a href=\"" + url + "\">sheet</a> " + gallery::GraphicFacts(sheet) + ", frames of " +
            N(fw) + " x " + N(fh) + ", " + N(anims) + " animations";
    if (shown < total) body += ", the first " + N(shown) + " frames shown";
    s.html += body + "</div>\n</section>\n";
    return true;
}

void Compare(const BlockSide& a, const BlockSide& b, const kinds::KindRow& row, std::vector<std::string>& diffs) {
    CSprite pa, pb;
    const bool la = pa.Load(a.pkg, a.entry->name.c_str(), kinds::TypeOf(row.kind)) > 0 && pa.GetSurface();
    const bool lb = pb.Load(b.pkg, b.entry->name.c_str(), kinds::TypeOf(row.kind)) > 0 && pb.GetSurface();
    if (!la || !lb) return diffs.push_back(!la ? samemeaning::kOriginalFails : samemeaning::kCopyFails);
    CompareSprites(pa, pb, Strictness::Exact, diffs);
}

}  // namespace

const KindSpec kSpriteKind = {
    kinds::Kind::Sprite, "spr_", &kElements, &Counters::spr, false, Export, Import, Show, Compare};

}  // namespace orb
