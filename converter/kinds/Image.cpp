// The image kind: a picture of its own, an "image" element.
#include <SDL.h>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "resources/IImage.h"

namespace orb {

namespace {

const Elements kElements = {
    {"image",
     "ORB",
     "a picture (IMG block)",
     {NameRow(), SourceRow(), BlendingRow("per-surface"), AlphaModRow(), ColorKeyRow()}},
};

using namespace exportstep;
using namespace importstep;

bool Export(ExportSession& s, const std::string& n) {
    SurfacePtr surface(g_pImage->Load(s.pkg, n.c_str(), nullptr));
    if (!surface) return s.Fail(kUnreadableBlock);
    const bool perPixel = (surface->flags & SDL_SRCALPHA) && surface->format->alpha == 255;
    Graphic g;
    if (!WriteGraphic(s, kImageKind.filePrefix, n, surface.get(), perPixel, g)) return false;
    if (!exportstep::Open(s, kImageKind.tag())) return false;
    SetText(s, attr::kName, n.c_str());
    SetGraphicAttributes(s, g, kPerSurface);
    Close(s);
    return true;
}

// A per-surface image takes its key and alpha from the element.
bool ApplySurfaceKeys(ImportSession& s, SDL_Surface* surface) {
    int colorkey = 0, alphamod = 0;
    if (!ReadSurfaceKeys(s, surface, colorkey, alphamod)) return false;
    if (colorkey == kNoColorKeyValue) {
        SDL_SetColorKey(surface, 0, 0);
        surface->format->colorkey = 0xFFFFFFFFu;
    } else {
        SDL_SetColorKey(surface, SDL_SRCCOLORKEY | SDL_RLEACCEL, static_cast<Uint32>(colorkey));
    }
    if (alphamod == 255)
        SDL_SetAlpha(surface, 0, 255);
    else
        SDL_SetAlpha(surface, SDL_SRCALPHA, static_cast<Uint8>(alphamod));
    return true;
}

bool Import(ImportSession& s, std::string& name) {
    std::string blending, source;
    std::vector<uint8_t> bytes;
    if (!ReadName(s, name) || !Text(s, attr::kAlphaBlending, blending) || !Source(s, source, bytes)) return false;
    const bool perPixel = IsPerPixel(blending.c_str());
    SurfacePtr surface(perPixel ? LoadPerPixel(bytes) : g_pImage->LoadBMP(bytes));
    if (!surface) return PayloadFails(s, source, bytes, perPixel ? "PNG" : "BMP");
    if (!perPixel && !ApplySurfaceKeys(s, surface.get())) return false;
    const char* type = kinds::TypeOf(kinds::Kind::Image);
    const auto same = [&] {
        SurfacePtr stored(g_pImage->Load(s.pkg, name.c_str(), nullptr));
        std::vector<std::string> diffs;
        if (stored) samemeaning::CompareImages(stored.get(), surface.get(), samemeaning::Strictness::Meaning, diffs);
        return stored && diffs.empty();
    };
    if (KeptAsStored(s, type, name, same)) return true;
    return StoreReplacing(s, type, name, [&] { return g_pImage->Save(s.pkg, name.c_str(), surface.get()); });
}

bool Show(gallery::Session& s, const kinds::Entry& e) {
    SurfacePtr surface(g_pImage->Load(s.pkg, e.name.c_str(), nullptr));
    if (!surface) return s.Fail(kUnreadableBlock);
    std::string url;
    if (!gallery::WritePng(s, "img_", e.name, surface.get(), url)) return false;
    s.html += gallery::Open("image", e.name) + gallery::Picture(url, surface->w, surface->h) + "<div class=\"meta\">" +
              gallery::GraphicFacts(surface.get()) + "</div>\n</section>\n";
    return true;
}

void Compare(const BlockSide& a, const BlockSide& b, const kinds::KindRow&, std::vector<std::string>& diffs) {
    SurfacePtr sa(g_pImage->Load(a.pkg, a.entry->name.c_str(), nullptr));
    SurfacePtr sb(g_pImage->Load(b.pkg, b.entry->name.c_str(), nullptr));
    if (!sa || !sb) return diffs.push_back(!sa ? samemeaning::kOriginalFails : samemeaning::kCopyFails);
    samemeaning::CompareImages(sa.get(), sb.get(), samemeaning::Strictness::Exact, diffs);
}

}  // namespace

const KindSpec kImageKind = {
    kinds::Kind::Image, "img_", &kElements, &Counters::img, false, Export, Import, Show, Compare};

}  // namespace orb
