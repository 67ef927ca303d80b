// One element of the gallery page per resource, each kind shown as the game
// shows it: graphics as drawn (IImage::AsDrawn: colour key and per-surface
// alpha as transparency, per-pixel alpha kept) over a checkerboard, tile sets
// cut into numbered tiles, sprites playing each animation row with its frame
// strip below, fonts as their table of 96 characters and a sentence printed
// by CFont itself, sounds and music in a player where a browser can play
// them, widgets with their state images side by side, raw files by their
// first bytes. Every payload is read through its SDK class; the page shows
// cut-outs of one PNG per graphic (object-position), never a second file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CommandsSupport.h"
#include "ExportKinds.h"
#include "Gallery.h"
#include "SdkHandles.h"
#include "core/FileAccess.h"
#include "package/BlockPayload.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace gallery {

namespace {

using kinds::Kind;
using kinds::TypeOf;

// Cut-outs shown per tile set or sprite strip: a page of a million 1x1
// tiles would show nothing more useful than the first thousand.
constexpr int kMaxCells = 1024;
constexpr size_t kHeadBytes = 64;  // first bytes of a raw file
// Players that read their file's head as the page opens; beyond that many,
// a page of thousands of sounds would open only once every one was read.
constexpr int kMaxPreloads = 100;
constexpr const char* kSample = "The quick brown fox jumps over the lazy dog. 0123456789 !?";

std::string N(long long v) { return std::to_string(v); }

// Why a file is not on disk; detail ends in the system's words in brackets.
std::string NotWritten(const std::string& path, const std::string& detail) {
    std::string text = "its file '" + SafeText(path, SafeStyle::Masked) + "' could not be written";
    const size_t open = detail.rfind(" (");
    if (open != std::string::npos) text += detail.substr(open);
    return text + ": check that the folder is writable and the disk has room.";
}

// Writes bytes as a new file of the folder (OutputFolder.h); every byte or
// no file. The file's URL in url.
bool WriteBytes(Session& s, const std::string& file, const uint8_t* data, size_t size, std::string& url) {
    const std::string path = s.folder + "/" + file;
    if (!s.out->Put(file, data, size)) return s.Fail(NotWritten(path, s.out->error()));
    s.files.push_back(path);
    url = s.folderUrl + Url(file);
    return true;
}

// A surface as drawn, as a PNG file of the folder; its URL in url.
bool WritePng(Session& s, const char* prefix, const std::string& name, SDL_Surface* surface, std::string& url) {
    if (!surface) return s.Fail(kUnreadableBlock);
    SurfacePtr drawn(IImage::AsDrawn(surface));
    if (!drawn) return s.Fail("no surface could be made to draw it on (out of memory).");
    const std::string file = s.names.Make(prefix, name, ".png");
    outwrite::MemoryStream encoded;
    if (!encoded.rw() || g_pImage->WritePNG(encoded.rw(), drawn.get(), s.pngLevel) != 0 || encoded.bytes().empty())
        return s.Fail(std::string("its PNG file could not be made (") + SDL_GetError() + ").");
    return WriteBytes(s, file, encoded.bytes().data(), encoded.bytes().size(), url);
}

// The element of a resource. sheet: the picture its cut-outs show (--src
// of the style), "" for none.
std::string Open(const char* kind, const std::string& name, const std::string& extra = "",
                 const std::string& sheet = "") {
    return std::string("<section class=\"res") + (sheet.empty() ? "" : " wide") + "\" data-kind=\"" + kind +
           "\" data-name=\"" + Html(name) + "\"" + extra +
           (sheet.empty() ? "" : " style=\"--src:url(" + sheet + ")\"") + ">\n<h3>" + Html(name) + "</h3>\n";
}

// A whole picture, scaled down by the style to a thumbnail.
std::string Picture(const std::string& url, int w, int h) {
    return "<a href=\"" + url + "\"><img class=\"pic chk\" src=\"" + url + "\" width=\"" + N(w) + "\" height=\"" +
           N(h) + "\" loading=\"lazy\" alt=\"\"></a>\n";
}

// A w x h cut-out at (x, y) of the picture of its element's --src. Cut-outs
// are backgrounds, not pictures: a page of thousands of tiles, frames and
// glyphs stays quick to open, and nothing is fetched for an element that
// is not on screen (the style skips those).
std::string Cut(int x, int y, int w, int h) {
    return "<i class=\"cut\" style=\"width:" + N(w) + "px;height:" + N(h) + "px;--p:" + N(-x) + "px " + N(-y) +
           "px\"></i>";
}

// Depth, alpha kind and key of a graphic as the game uses them.
std::string GraphicFacts(SDL_Surface* g) {
    std::string t = N(g->w) + " x " + N(g->h) + ", " + N(g->format->BitsPerPixel) + " bits, ";
    if ((g->flags & SDL_SRCALPHA) && g->format->Amask)
        t += "per-pixel alpha";
    else if (g->flags & SDL_SRCALPHA)
        t += "per-surface alpha " + N(g->format->alpha);
    else
        t += "opaque";
    if (!((g->flags & SDL_SRCALPHA) && g->format->Amask) && (g->flags & SDL_SRCCOLORKEY) &&
        g->format->colorkey != 0xFFFFFFFFu) {
        Uint8 r = 0, gr = 0, b = 0;
        SDL_GetRGB(g->format->colorkey, g->format, &r, &gr, &b);
        char key[48];
        std::snprintf(key, sizeof key, ", colour key 0x%X (#%02X%02X%02X)", g->format->colorkey, r, gr, b);
        t += key;
    } else {
        t += ", no colour key";
    }
    return t;
}

bool ShowImage(Session& s, const std::string& n) {
    SurfacePtr surface(g_pImage->Load(s.pkg, n.c_str(), nullptr));
    if (!surface) return s.Fail(kUnreadableBlock);
    std::string url;
    if (!WritePng(s, "img_", n, surface.get(), url)) return false;
    s.html += Open("image", n) + Picture(url, surface->w, surface->h) + "<div class=\"meta\">" +
              GraphicFacts(surface.get()) + "</div>\n</section>\n";
    return true;
}

// A tile, or a tile set cut into its numbered tiles.
bool ShowTile(Session& s, const std::string& n, const char* type) {
    CTile tile;
    if (!tile.Load(s.pkg, n.c_str(), type)) return s.Fail(kUnreadableBlock);
    SDL_Surface* g = tile.GetSurface();
    std::string url;
    if (!WritePng(s, "tile_", n, g, url)) return false;
    int tw = 0, th = 0;
    const bool set = tile.GetTileset(&tw, &th) && tw > 0 && th > 0 && tw <= g->w && th <= g->h;
    std::string body =
        Open("tile", n, set ? " data-tiles=\"" + N((long long)(g->w / tw) * (g->h / th)) + "\"" : "", set ? url : "");
    std::string facts = GraphicFacts(g) + ", position " + N(tile.GetPositionX()) + ", " + N(tile.GetPositionY());
    if (!set) {
        body += Picture(url, g->w, g->h);
    } else {
        const int cols = g->w / tw, rows = g->h / th;
        const long long total = (long long)cols * rows;
        facts += ", tiles of " + N(tw) + " x " + N(th) + " (" + N(cols) + " x " + N(rows) + ")";
        if (total > kMaxCells) facts += ", the first " + N(kMaxCells) + " shown";
        body += "<div class=\"cells\">";
        for (long long i = 0; i < total && i < kMaxCells; ++i)
            body += "<span class=\"cell\">" + Cut(int(i % cols) * tw, int(i / cols) * th, tw, th) + N(i) + "</span>";
        body += "</div>\n";
    }
    if (set) facts = "<a href=\"" + url + "\">tile set</a> " + facts;
    s.html += body + "<div class=\"meta\">" + facts + "</div>\n</section>\n";
    return true;
}

bool ShowSprite(Session& s, const std::string& n) {
    CSprite sprite;
    SDL_Surface* sheet = nullptr;
    int fw = 0, fh = 0;
    if (const char* why = LoadSpriteSheet(sprite, s.pkg, n, sheet, fw, fh)) return s.Fail(why);
    std::string url;
    if (!WritePng(s, "spr_", n, sheet, url)) return false;
    const int anims = sprite.GetAnimationCount();
    long long total = 0;
    for (int a = 1; a <= anims; ++a) {
        uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
        int16_t hx = 0, hy = 0;
        sprite.GetAnimProperties(a, &type, &status, &frames, &hx, &hy, &start, &end);
        total += frames;
    }
    std::string body = Open("sprite", n, " data-frames=\"" + N(total) + "\"", url);
    int shown = 0;
    for (int a = 1; a <= anims; ++a) {
        uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
        int16_t hx = 0, hy = 0;
        sprite.GetAnimProperties(a, &type, &status, &frames, &hx, &hy, &start, &end);
        const int y = (a - 1) * fh;
        std::string ms, strip;
        for (int f = 1; f <= frames; ++f) {
            uint32_t t = 0;
            sprite.GetFrame(a, f, &t);
            if (shown >= kMaxCells) break;
            ++shown;
            ms += (ms.empty() ? "" : ",") + N(t);
            strip += "<span class=\"cell frame\">" + Cut((f - 1) * fw, y, fw, fh) + N(f - 1) + " &middot; " + N(t) +
                     " ms</span>";
        }
        body += "<div class=\"meta\">animation " + N(a - 1) + ": " + N(frames) + " frames, type " + N(type) +
                ", hot spot " + N(hx) + ", " + N(hy) + "</div>\n<div class=\"anim\" data-ms=\"" + ms + "\" data-fw=\"" +
                N(fw) + "\" data-y=\"" + N(y) + "\">" + Cut(0, y, fw, fh) + "</div>\n<div class=\"cells\">" + strip +
                "</div>\n";
    }
    body += "<div class=\"meta\"><a href=\"" + url + "\">sheet</a> " + GraphicFacts(sheet) + ", frames of " + N(fw) +
            " x " + N(fh) + ", " + N(anims) + " animations";
    if (shown < total) body += ", the first " + N(shown) + " frames shown";
    s.html += body + "</div>\n</section>\n";
    return true;
}

bool ShowFont(Session& s, const std::string& n) {
    CFont font;
    if (!font.Load(s.pkg, n.c_str())) return s.Fail(kUnreadableBlock);
    SDL_Surface* bitmap = font.GetSurface();
    std::string url, sampleUrl;
    if (!WritePng(s, "fnt_", n, bitmap, url)) return false;
    SurfacePtr sample(font.RenderText(kSample));
    if (!sample) return s.Fail("the sample text could not be drawn with it (out of memory).");
    if (!WritePng(s, "fnt_", n + "_sample", sample.get(), sampleUrl)) return false;
    const int gh = font.GetFontHeight();
    std::string body = Open("font", n, " data-glyphs=\"" + N(CFont::kTableEntries) + "\"", url);
    body += "<img class=\"chk sample\" src=\"" + sampleUrl + "\" width=\"" + N(sample->w) + "\" height=\"" +
            N(sample->h) + "\" loading=\"lazy\" alt=\"" + Html(kSample) + "\">\n<div class=\"cells\">";
    // The table's 96 entries: the space, then codes 33 to 127 as the
    // font's boundaries cut them from its bitmap.
    for (int code = 32; code < 32 + CFont::kTableEntries; ++code) {
        std::string cell = "<span class=\"cell glyph\">";
        const int x = code == 32 ? 0 : int(font.GetBoundary(code - 33));
        const int w = code == 32 ? 0 : int(font.GetBoundary(code - 32)) - x;
        if (w > 0 && gh > 0)
            cell += Cut(x, 1, w, gh);
        else
            cell += "<span style=\"height:" + N(gh) + "px\"></span>";
        const std::string ch = code == 32 ? "space" : code == 127 ? "DEL" : Html(std::string(1, char(code)));
        body += cell + "<b>" + ch + "</b>" + N(code) + "</span>";
    }
    body += "</div>\n<div class=\"meta\"><a href=\"" + url + "\">bitmap</a> " + GraphicFacts(bitmap) +
            ", glyph height " + N(gh) + ", kerning " + N(font.GetKerning()) + ", space " + N(font.GetSpaceAdvance()) +
            "</div>\n</section>\n";
    s.html += body;
    return true;
}

std::string AudioFacts(const AudioInfo& info, const std::string& format) {
    std::string t = format.empty() ? "no known format" : format;
    if (info.frequency)
        t += ", " + N(info.frequency) + " Hz, " + N(info.channels) + " channels, " + N(info.sampleFormat & 0xFF) +
             " bits";
    return t + ", " + N(info.size) + " bytes";
}

// A sound or music block: WAV and Ogg as they are, AIFF and VOC sounds as
// the WAV their decoder makes, in a player; anything else as a link to its
// bytes.
bool ShowAudio(Session& s, const std::string& n, bool music) {
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    const uint8_t kind = music ? 1 : 0;
    const bool decoded =
        music ? g_pSoundFX->MusicInfo(s.pkg, n.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, n.c_str(), &info);
    if (!decoded && !g_pSoundFX->Identify(s.pkg, n.c_str(), kind, &info)) return s.Fail(kUnreadableBlock);
    const std::string format(info.format, strnlen(info.format, sizeof info.format));
    const bool direct = decoded && (format == "WAV" || format == "OGG");
    const bool convert = decoded && !music && (format == "AIFF" || format == "VOC");
    // Music that no browser plays is named by its container (MIDI included)
    // and its title where its head has one.
    std::string title, container = format;
    if (music && !direct && !g_pSoundFX->MusicTitle(s.pkg, n.c_str(), title, container))
        return s.Fail(kUnreadableBlock);
    std::string ext = container.empty() ? "bin" : container == "MIDI" ? "mid" : container;
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char* prefix = music ? "mus_" : "snd_";
    std::string url, facts = AudioFacts(info, container), player;
    if (!title.empty()) facts += ", title \"" + Html(title) + "\"";
    if (convert) {
        std::vector<uint8_t> wav;
        if (!g_pSoundFX->DecodeToWav(s.pkg, n.c_str(), wav))
            return s.Fail("its " + format + " data could not be decoded to WAV.");
        if (!WriteBytes(s, s.names.Make(prefix, n, ".wav"), wav.data(), wav.size(), url)) return false;
        facts += ", converted to WAV";
    } else {
        BlockPayload block;
        g_pStuffVLT->LoadBlock(s.pkg, TypeOf(music ? Kind::Music : Kind::Sound), n.c_str(), &block.info);
        if (!block.info.data) return s.Fail(kUnreadableBlock);
        if (!WriteBytes(s, s.names.Make(prefix, n, "." + ext), block.info.data, block.info.size, url)) return false;
    }
    if (direct || convert) {
        player = std::string("<audio controls preload=\"") + (s.players > kMaxPreloads ? "none" : "metadata") +
                 "\" src=\"" + url + "\"></audio>\n";
    } else {
        player = "<a href=\"" + url + "\">" + (music ? "the music file" : "the sound file") +
                 "</a> (no player in a browser)\n";
    }
    s.html += Open(music ? "music" : "sound", n) + player + "<div class=\"meta\">" + facts + "</div>\n</section>\n";
    return true;
}

bool ShowWidget(Session& s, const std::string& n) {
    ButtonRecord record;
    {
        BlockPayload block;
        block.Load(s.pkg, TypeOf(Kind::Widget), n.c_str());
        if (!block.info.data || block.info.size < IButton::kBlockSize ||
            !IButton::DecodePayload(block.info.data, IButton::kBlockSize, record))
            return s.Fail("the widget record could not be read: the block is damaged or not 24 bytes long.");
    }
    std::string states;
    for (const ButtonStateImage& state : IButton::kStateImages) {
        const std::string blockName = n + state.suffix;
        if (!s.stateImages.count(blockName)) continue;
        CTile tile;
        if (!tile.Load(s.pkg, blockName.c_str(), TypeOf(Kind::StateImage)))
            return s.Fail(std::string("its ") + state.state + " state image could not be read from the package.");
        std::string url;
        SDL_Surface* g = tile.GetSurface();
        if (!WritePng(s, "wid_", n + "_" + state.state, g, url)) return false;
        states += "<span class=\"cell state\"><img class=\"chk\" src=\"" + url + "\" width=\"" + N(g->w) +
                  "\" height=\"" + N(g->h) + "\" loading=\"lazy\" alt=\"\">" + state.state + "</span>";
    }
    s.html += Open("widget", n) + "<div class=\"states\">" + states + "</div>\n<div class=\"meta\">" +
              Html(orb::WidgetTypeName(record.type)) + ", key code " + N(record.key) + ", position " + N(record.x) +
              ", " + N(record.y) + "</div>\n</section>\n";
    return true;
}

// A raw file (or a block of a type no class owns): size, storage mode and
// its first bytes, as text when they are printable, else in hex.
bool ShowFile(Session& s, const kinds::Entry& e) {
    BlockPayload block;
    block.Load(s.pkg, e.type.c_str(), e.name.c_str());
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    const size_t n = block.info.size < kHeadBytes ? block.info.size : kHeadBytes;
    bool text = true;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = block.info.data[i];
        if (!(c >= 0x20 && c < 0x7F) && c != '\n' && c != '\r' && c != '\t') text = false;
    }
    std::string head;
    if (text) {
        head = Html(std::string(reinterpret_cast<const char*>(block.info.data), n));
    } else {
        char hex[4];
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(hex, sizeof hex, "%02X", block.info.data[i]);
            head += (i ? (i % 16 ? " " : "\n") : "") + std::string(hex);
        }
    }
    s.html += Open("file", e.name) + "<div class=\"meta\">" + N(block.info.size) + " bytes, " +
              commands::ModeWord(block.info.mode) + (e.type == TypeOf(Kind::File) ? "" : ", type " + Html(e.type)) +
              (block.info.size > n ? ", the first " + N(n) + " bytes" : "") + "</div>\n<pre>" + head +
              "</pre>\n</section>\n";
    return true;
}

}  // namespace

const char* KindOf(const kinds::Entry& e, const Session& s) {
    if (e.deleted()) return "";
    const kinds::KindRow* row = kinds::Find(e.type);
    if (!row) return "file";
    switch (row->kind) {
        case Kind::Image: return "image";
        case Kind::Tile: return "tile";
        case Kind::StateImage: {
            // A state image belongs to its widget's element; one without a
            // live widget is shown as the tile it is.
            for (const ButtonStateImage& state : IButton::kStateImages) {
                const size_t len = std::strlen(state.suffix);
                if (e.name.size() > len && e.name.compare(e.name.size() - len, len, state.suffix) == 0 &&
                    s.liveWidgets.count(e.name.substr(0, e.name.size() - len)))
                    return "widget";
            }
            return "tile";
        }
        case Kind::Sprite: return "sprite";
        case Kind::Font: return "font";
        case Kind::Sound: return "sound";
        case Kind::Music: return "music";
        case Kind::Widget: return "widget";
        case Kind::File: return "file";
        case Kind::Deleted: return "";
    }
    return "file";
}

bool ShowEntry(Session& s, const kinds::Entry& e) {
    const kinds::KindRow* row = kinds::Find(e.type);
    if (!row) return ShowFile(s, e);
    switch (row->kind) {
        case Kind::Image: return ShowImage(s, e.name);
        case Kind::Tile: return ShowTile(s, e.name, TypeOf(Kind::Tile));
        case Kind::StateImage:
            if (std::strcmp(KindOf(e, s), "widget") == 0) return true;
            return ShowTile(s, e.name, TypeOf(Kind::StateImage));
        case Kind::Sprite: return ShowSprite(s, e.name);
        case Kind::Font: return ShowFont(s, e.name);
        case Kind::Sound: return ShowAudio(s, e.name, false);
        case Kind::Music: return ShowAudio(s, e.name, true);
        case Kind::Widget: return ShowWidget(s, e.name);
        case Kind::File: return ShowFile(s, e);
        case Kind::Deleted: return true;
    }
    return true;
}

}  // namespace gallery
