// A small program built on the installed Trovalis SDK: it opens a package,
// loads the first resource of each kind through the SDK's classes, prints
// what it found and draws every graphic one (images, tile sets, state
// images, the first frame of sprites, a line of text through fonts) side by
// side into an off-screen surface, saved as a PNG. No window is opened.
//
//   viewer PACKAGE.vlt OUTPUT.png
//
// Exit code 0 when every resource tried loaded and the picture was written.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <SDL.h>

#include "core/Trovalis.h"
#include "package/BlockPayload.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

struct SurfaceFree {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

// A picture to draw: a surface we own, or one a resource object owns, and
// the part of it to show.
struct Picture {
    Surface owned;
    SDL_Surface* surface = nullptr;
    SDL_Rect part{0, 0, 0, 0};
};

Picture Whole(SDL_Surface* s, bool own) {
    Picture p;
    if (own) p.owned.reset(s);
    p.surface = s;
    p.part.w = static_cast<Uint16>(s->w);
    p.part.h = static_cast<Uint16>(s->h);
    return p;
}

int Run(const char* package, const char* output) {
    const int id = g_pStuffVLT->OpenForReading(package);
    if (id < 1) {
        std::fprintf(stderr, "viewer: '%s' does not open as a package\n", package);
        return 1;
    }
    // The first block of each type, in package order.
    std::vector<BlockInfo> firsts;
    BlockInfo info;
    for (int r = g_pStuffVLT->FindFirst(id, &info); r == 1; r = g_pStuffVLT->FindNext(id, &info)) {
        bool seen = false;
        for (const BlockInfo& f : firsts) seen = seen || std::strcmp(f.type, info.type) == 0;
        if (!seen && std::strcmp(info.type, "DELETED") != 0) firsts.push_back(info);
    }

    std::vector<Picture> pictures;
    // Kept alive until the picture is drawn: they own their surfaces.
    std::vector<std::unique_ptr<CTile>> tiles;
    std::vector<std::unique_ptr<CSprite>> sprites;
    std::vector<std::unique_ptr<CFont>> fonts;
    int failures = 0;
    for (const BlockInfo& b : firsts) {
        const std::string type = b.type;
        bool ok = false;
        std::string what;
        if (type == "IMG") {
            if (SDL_Surface* s = g_pImage->Load(id, b.name)) {
                what = std::to_string(s->w) + "x" + std::to_string(s->h);
                pictures.push_back(Whole(s, true));
                ok = true;
            }
        } else if (type == "TILE2" || type == "TILB2") {
            tiles.emplace_back(new CTile);
            CTile& t = *tiles.back();
            if (t.Load(id, b.name, type.c_str()) && t.GetSurface()) {
                int w = 0, h = 0;
                const int set = t.GetTileset(&w, &h);
                what = set ? "tile set of " + std::to_string(w) + "x" + std::to_string(h) + " tiles" : "one tile";
                pictures.push_back(Whole(t.GetSurface(), false));
                ok = true;
            }
        } else if (type == "SPR2") {
            sprites.emplace_back(new CSprite);
            CSprite& s = *sprites.back();
            if (s.Load(id, b.name, "SPR2") > 0 && s.GetSurface()) {
                int w = 0, h = 0;
                s.GetOffset(&w, &h);
                what = std::to_string(s.GetAnimationCount()) + " animations of " + std::to_string(w) + "x" +
                       std::to_string(h) + " frames";
                Picture p = Whole(s.GetSurface(), false);
                p.part.w = static_cast<Uint16>(w);  // the first frame
                p.part.h = static_cast<Uint16>(h);
                pictures.push_back(std::move(p));
                ok = true;
            }
        } else if (type == "FONT2") {
            fonts.emplace_back(new CFont);
            CFont& f = *fonts.back();
            if (f.Load(id, b.name)) {
                if (SDL_Surface* text = f.RenderText("Hello from the SDK")) {
                    what = "glyphs " + std::to_string(f.GetFontHeight()) + " pixels high";
                    pictures.push_back(Whole(text, true));
                    ok = true;
                }
            }
        } else if (type == "SND" || type == "MUS") {
            AudioInfo audio{};
            ok = type == "SND" ? g_pSoundFX->SoundInfo(id, b.name, &audio) : g_pSoundFX->MusicInfo(id, b.name, &audio);
            if (ok)
                what = std::string(audio.format) + ", " + std::to_string(audio.size) + " bytes" +
                       (audio.frequency ? ", " + std::to_string(audio.frequency) + " Hz" : std::string());
        } else if (type == "BUT") {
            BlockPayload payload;
            ButtonRecord record;
            if (payload.Load(id, b.type, b.name) > 0 &&
                IButton::DecodePayload(payload.info.data, payload.info.size, record)) {
                what = std::string(IButton::GetTypeName(record.type)) + " at (" + std::to_string(record.x) + "," +
                       std::to_string(record.y) + ")";
                ok = true;
            }
        } else {
            BlockPayload payload;
            ok = payload.Load(id, b.type, b.name) > 0 || b.size == 0;
            what = std::to_string(b.size) + " bytes";
        }
        std::printf("%-6s %-24s %s\n", b.type, b.name, ok ? what.c_str() : "does not load");
        if (!ok) ++failures;
    }

    // Everything side by side on a grey ground, 8 pixels apart.
    int width = 8, height = 16;
    for (const Picture& p : pictures) {
        width += p.part.w + 8;
        if (p.part.h + 16 > height) height = p.part.h + 16;
    }
    Surface canvas(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    if (!canvas) {
        std::fprintf(stderr, "viewer: no surface: %s\n", SDL_GetError());
        g_pStuffVLT->Close(id);
        return 1;
    }
    SDL_FillRect(canvas.get(), nullptr, SDL_MapRGB(canvas->format, 96, 96, 104));
    int x = 8;
    for (Picture& p : pictures) {
        SDL_Rect at{static_cast<Sint16>(x), 8, 0, 0};
        SDL_BlitSurface(p.surface, &p.part, canvas.get(), &at);
        x += p.part.w + 8;
    }
    const bool saved = g_pImage->SavePNG(output, canvas.get(), -1) == 0;
    g_pStuffVLT->Close(id);
    if (!saved) {
        std::fprintf(stderr, "viewer: '%s' could not be written\n", output);
        return 1;
    }
    std::printf("%zu resources, %zu drawn into %s (%dx%d)\n", firsts.size(), pictures.size(), output, width, height);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: viewer PACKAGE.vlt OUTPUT.png\n");
        return 2;
    }
    if (Trovalis.Init(0) != 1) {
        std::fprintf(stderr, "viewer: the SDK did not start\n");
        return 1;
    }
    const int code = Run(argv[1], argv[2]);
    Trovalis.Quit();
    return code;
}
