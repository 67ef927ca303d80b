// The font kind: a strip of 94 glyphs; a "font" element.
#include <SDL.h>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "resources/Font.h"
#include "resources/IImage.h"

namespace orb {

namespace {

const Elements kElements = {
    {"font",
     "ORB",
     "a bitmap font (FONT2 block; 1.0 FONT blocks are upgraded and exported alike)",
     {NameRow(),
      SourceRow("the font strip (the 94 glyphs from '!' to '~' side by side, with its marker row when the export "
                "needed one), relative to the document's folder"),
      BlendingRow("per-surface"), AlphaModRow(),
      Colour("colorkey", -1, Need::WrittenOnly,
             "the strip's transparent pixel value as the export found it; the import finds it from the strip"),
      Int("kerning", kIntMin, kIntMax, Need::Required,
          "the pixels added between two glyphs (negative: drawn closer)")}},
};


using namespace exportstep;
using namespace importstep;
using samemeaning::Strictness;

constexpr const char* kSample = "The quick brown fox jumps over the lazy dog. 0123456789 !?";

bool Export(ExportSession& s, const std::string& n) {
    CFont font;
    if (!font.Load(s.pkg, n.c_str())) return s.Fail(kUnreadableBlock);
    // The bitmap as the package keeps it: with its marker row when the
    // glyphs could not be found again from the ink alone (a glyph with an
    // empty column inside, a blank glyph), so that the file imports again
    // to the same font. Should no such bitmap be made, the pixels still go
    // out as they are.
    SurfacePtr marked(font.StoredBitmap());
    SDL_Surface* bitmap = marked ? marked.get() : font.GetSurface();
    if (!bitmap || !font.GetSurface()) return s.Fail(kUnreadableBlock);
    bitmap->format->colorkey = font.GetSurface()->format->colorkey;
    bitmap->format->alpha = font.GetSurface()->format->alpha;
    Graphic g;
    if (!WriteGraphic(s, kFontKind.filePrefix, n, bitmap, font.GetAlpha() == 256, g)) return false;
    if (!exportstep::Open(s, kFontKind.tag())) return false;
    SetText(s, attr::kName, n.c_str());
    SetGraphicAttributes(s, g, kPerSurface);
    SetInt(s, attr::kKerning, font.GetKerning());
    Close(s);
    return true;
}

void CompareFonts(const CFont& a, const CFont& b, Strictness how, std::vector<std::string>& diffs) {
    using samemeaning::Became;
    if (a.GetKerning() != b.GetKerning()) diffs.push_back(Became("kerning", a.GetKerning(), b.GetKerning()));
    if (how == Strictness::Meaning) {
        if (a.GetFontHeight() != b.GetFontHeight())
            diffs.push_back(Became("height", a.GetFontHeight(), b.GetFontHeight()));
        for (int i = 0; i < CFont::kTableEntries; ++i)
            if (a.GetBoundary(i) != b.GetBoundary(i) || a.GetAdvance(i) != b.GetAdvance(i))
                diffs.push_back("character " + samemeaning::Num(i) + " metrics differ");
    }
    samemeaning::CompareLooks(samemeaning::LookOf(a), samemeaning::LookOf(b), how, diffs);
}

// The font of the element's strip, with its alpha per surface.
bool CreateFont(ImportSession& s, CFont& font, bool perPixel) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    {
        SurfacePtr surface(perPixel ? g_pImage->LoadPNG(bytes) : g_pImage->LoadBMP(bytes));
        if (!surface) return PayloadFails(s, source, bytes, perPixel ? "PNG" : "BMP");
        if (font.Create(surface.get()) != 96)
            return Fail(s, "the image is not a font strip of the 94 glyphs the font class reads.");
    }
    if (perPixel) return true;
    int alphamod = 0;
    if (!ReadAlphaMod(s, alphamod)) return false;
    font.SetAlpha(alphamod);
    return true;
}

bool Import(ImportSession& s, std::string& name) {
    std::string blending;
    if (!ReadName(s, name) || !Text(s, attr::kAlphaBlending, blending)) return false;
    CFont font;
    if (!CreateFont(s, font, IsPerPixel(blending.c_str()))) return false;
    int kerning = 0;
    if (!importstep::Int(s, attr::kKerning, kerning)) return false;
    font.SetKerning(kerning);
    font.SetName(name.c_str());
    const char* type = kinds::TypeOf(kinds::Kind::Font);
    const auto same = [&] {
        CFont stored;
        std::vector<std::string> diffs;
        if (!stored.Load(s.pkg, name.c_str())) return false;
        CompareFonts(stored, font, Strictness::Meaning, diffs);
        return diffs.empty();
    };
    if (KeptAsStored(s, type, name, same)) return true;
    return StoreReplacing(s, type, name, [&] { return font.Save(s.pkg, name.c_str()); });
}

// The table's 96 entries: the space, then codes 33 to 127 as the font's
// boundaries cut them from its bitmap.
std::string GlyphCells(const CFont& font, int gh) {
    using gallery::N;
    std::string cells;
    for (int code = 32; code < 32 + CFont::kTableEntries; ++code) {
        std::string cell = "<span class=\"cell glyph\">";
        const int x = code == 32 ? 0 : int(font.GetBoundary(code - 33));
        const int w = code == 32 ? 0 : int(font.GetBoundary(code - 32)) - x;
        if (w > 0 && gh > 0)
            cell += gallery::Cut(x, 1, w, gh);
        else
            cell += "<span style=\"height:" + N(gh) + "px\"></span>";
        const std::string ch = code == 32 ? "space" : code == 127 ? "DEL" : gallery::Html(std::string(1, char(code)));
        cells += cell + "<b>" + ch + "</b>" + N(code) + "</span>";
    }
    return cells;
}

bool Show(gallery::Session& s, const kinds::Entry& e) {
    using gallery::N;
    CFont font;
    if (!font.Load(s.pkg, e.name.c_str())) return s.Fail(kUnreadableBlock);
    SDL_Surface* bitmap = font.GetSurface();
    std::string url, sampleUrl;
    if (!gallery::WritePng(s, "fnt_", e.name, bitmap, url)) return false;
    SurfacePtr sample(font.RenderText(kSample));
    if (!sample) return s.Fail("the sample text could not be drawn with it (out of memory).");
    if (!gallery::WritePng(s, "fnt_", e.name + "_sample", sample.get(), sampleUrl)) return false;
    const int gh = font.GetFontHeight();
    std::string body = gallery::Open("font", e.name, " data-glyphs=\"" + N(CFont::kTableEntries) + "\"", url);
    body += "<img class=\"chk sample\" src=\"" + sampleUrl + "\" width=\"" + N(sample->w) + "\" height=\"" +
            N(sample->h) + "\" loading=\"lazy\" alt=\"" + gallery::Html(kSample) + "\">\n<div class=\"cells\">";
    body += GlyphCells(font, gh);
    body += "</div>\n<div class=\"meta\"><a href=\"" + url + "\">bitmap</a> " + gallery::GraphicFacts(bitmap) +
            ", glyph height " + N(gh) + ", kerning " + N(font.GetKerning()) + ", space " + N(font.GetSpaceAdvance()) +
            "</div>\n</section>\n";
    s.html += body;
    return true;
}

void Compare(const BlockSide& a, const BlockSide& b, const kinds::KindRow&, std::vector<std::string>& diffs) {
    CFont fa, fb;
    const bool la = fa.Load(a.pkg, a.entry->name.c_str()) && fa.GetSurface();
    const bool lb = fb.Load(b.pkg, b.entry->name.c_str()) && fb.GetSurface();
    if (!la || !lb) return diffs.push_back(!la ? samemeaning::kOriginalFails : samemeaning::kCopyFails);
    CompareFonts(fa, fb, Strictness::Exact, diffs);
}

}  // namespace

const KindSpec kFontKind = {
    kinds::Kind::Font, "font_", &kElements, &Counters::fnt, false, Export, Import, Show, Compare};

}  // namespace orb
