// What every test program shares.
#pragma once
#include <gtest/gtest.h>
#include <png.h>

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "package/IStuffVLT.h"
#include "resources/PixelFormatRecord.h"

class TiXmlElement;

namespace testsupport {

// Log, SDK, files, processes

// Activates the log into its in-memory capture for the life of the object
// (every level), and deactivates it again afterwards.
class LogCapture {
public:
    explicit LogCapture(uint8_t maxLevel = 5) { TheLog().Activate(maxLevel, Log::kCapture); }
    ~LogCapture() { TheLog().Deactivate(); }
    std::string Take() { return TheLog().TakeCaptured(); }
};

// Starts the SDK for one test and stops it afterwards.
class SdkSession {
public:
    SdkSession();
    ~SdkSession();
};

// A fresh empty directory under the system's temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A tmpfs of the given size mounted at path (made when missing) for the life
// of the object; ok() is false where mounting is not allowed (not root).
class SmallDisk {
public:
    SmallDisk(const std::string& path, const std::string& size);
    ~SmallDisk();
    bool ok() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

std::vector<uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
std::vector<uint8_t> Bytes(const std::string& text);
bool Contains(const std::string& text, const std::string& part);
int Count(const std::string& text, const std::string& what);
// Whether every part occurs in the text.
::testing::AssertionResult ContainsAll(const std::string& text, const std::vector<std::string>& parts);
// Whether every part occurs in the text, each after the one before.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts);
// The file names in a directory, sorted.
std::vector<std::string> Listing(const std::string& dir);
std::string SourceDir();
// The text of a file under tests/data (a golden console output).
std::string Golden(const std::string& name);

// Runs a shell command: its exit code; out gets its standard output.
int Shell(const std::string& command, std::string& out);
// The banner bundlex prints before anything else.
inline const std::string kBanner =
    "---------------------------------------------------------\n"
    "Bundlex v2.0 - VLT resources export to XML and vice versa\n"
    "   (c) 2025-2026 the Bundlex developers - built on the Trovalis SDK\n"
    "---------------------------------------------------------\n\n"
    " Export VLT resources to a XML file using Quillmark Interchange\n"
    " XML v1.0 format(ORBv1) or import a ORBv1 format into a VLT\n";
// Runs the bundlex executable with the given arguments in dir (and TMPDIR set when tmpdir is given).
int RunBundlex(const std::vector<std::string>& args, std::string& out, const std::string& dir = "",
               const std::string& tmpdir = "");
// The console text with every carriage return turned into a line break.
std::string Lines(const std::string& console);
// jq's output for a filter over a JSON text, or a text saying that jq failed.
std::string JqOut(const std::string& json, const std::string& filter);
// Whether python3's json module parses the text as one JSON document.
bool PythonParses(const std::string& json);

// Attributes of an element as (name, value) pairs, in document order.
std::vector<std::pair<std::string, std::string>> Attributes(const TiXmlElement* e);
std::vector<const TiXmlElement*> Children(const TiXmlElement* e, const char* tag = nullptr);

// Surfaces

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// A per-pixel surface (32-bit with an alpha channel, varying alpha, never 0)
// or a per-surface one (32-bit, no alpha channel), filled from seed. The
// caller owns the surface.
SDL_Surface* Rgba(int w, int h, uint32_t seed);
SDL_Surface* Rgb(int w, int h, uint32_t seed);
// A surface whose pixel (x, y) has the value seed + x + 7y (masked to depth).
SDL_Surface* Pattern(int w, int h, int bpp, uint32_t r = 0, uint32_t g = 0, uint32_t b = 0, uint32_t a = 0,
                     uint32_t seed = 1);
// 8-bit surface whose palette entry i is (i, 255 - i, i / 2) and pixel (x, y) is (x + 3y) & 255.
SurfacePtr MakePaletted(int w, int h);
// 24-bit (masks 0xFF0000, 0xFF00, 0xFF) or 32-bit with Amask 0xFF000000.
SurfacePtr MakeRGB(int w, int h, int depth, bool alphaMask);
// The bytes of pixel (x, y) as stored (any depth up to 32).
uint32_t Pixel(const SDL_Surface* s, int x, int y);
bool SamePixels(const SDL_Surface* a, const SDL_Surface* b);

// Font bitmaps laid out like a font image, one glyph per code 33 to 126, each glyph a solid block of its own colour.
struct FontLayout {
    int ink = 5;                // ink columns per glyph
    bool leftGap = true;        // one empty column before the first glyph
    int height = 9;             // row 0 plus the glyph rows
    Uint8 bg[3] = {0, 0, 0};    // background colour
    bool markers = false;       // magenta over every gap column of row 0
    int splitGlyph = -1;        // glyph index whose middle column is left empty
    bool inkInRow0 = false;     // glyphs also cover row 0
    bool alphaChannel = false;  // 32 bits with an alpha mask (opaque glyphs)
};
inline Uint32 GlyphColour(const SDL_PixelFormat* f, int index) {
    return SDL_MapRGB(f, static_cast<Uint8>(10 + index), 200, 100);
}
inline int GlyphStart(const FontLayout& l, int index) { return (l.leftGap ? 1 : 0) + index * (l.ink + 1); }
inline int LayoutWidth(const FontLayout& l) { return GlyphStart(l, 94); }
inline void Fill(SDL_Surface* s, int x, int y, int w, int h, Uint32 c) {
    SDL_Rect r{Sint16(x), Sint16(y), Uint16(w), Uint16(h)};
    SDL_FillRect(s, &r, c);
}
SurfacePtr MakeFontBitmap(const FontLayout& l);

// PNG files written with libpng directly

struct PngSpec {
    int width = 4, height = 3;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<uint8_t> pixels;  // packed rows as libpng expects them
    std::vector<png_color> palette;
    std::vector<uint8_t> transAlpha;  // palette tRNS
    bool transColor = false;          // grey/RGB tRNS
    png_color_16 trans{};
};
std::vector<uint8_t> EncodePng(const PngSpec& spec);  // empty on failure
// The data of the first chunk of the type, if there is one.
std::optional<std::vector<uint8_t>> PngChunk(const std::vector<uint8_t>& file, const char* type);
// A PNG file with only a signature, an IHDR (correct CRC) and an IEND.
std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType);

// BMP files written byte by byte

// A paletted BMP of the forms real files have: info header of headerSize
// bytes (12: core, 3-byte palette entries and 2^bpp of them; 40, 64 (OS/2),
// 108, 124: 4-byte entries, 16 of them for 8 bits, 2^bpp otherwise), 1, 4 or
// 8 bits, rows bottom first unless topDown. Header fields beyond the first
// 40 bytes are filled, as a colour-space header fills them. Pixel (x, y) is
// entry BmpIndex, whose colour is BmpEntryColour.
struct PalettedBmpSpec {
    uint32_t headerSize = 124;
    uint16_t bpp = 8;
    int width = 7, height = 3;
    bool topDown = false;
};
std::vector<uint8_t> PalettedBmp(const PalettedBmpSpec& spec);
inline int BmpEntries(const PalettedBmpSpec& s) { return s.bpp == 8 && s.headerSize != 12 ? 16 : 1 << s.bpp; }
inline int BmpIndex(const PalettedBmpSpec& s, int x, int y) { return (x + 3 * y) % BmpEntries(s); }
inline SDL_Color BmpEntryColour(int i) {
    return SDL_Color{static_cast<Uint8>(237 - 9 * i), static_cast<Uint8>(1 + 15 * i), static_cast<Uint8>(1 + 5 * i), 0};
}

// Packages

// A block added to or deleted from package id: AddData's and Delete's answers.
int AddBlock(int id, const char* type, const char* name, std::vector<uint8_t> bytes, uint8_t mode = stored);
int DeleteBlock(int id, const char* type, const char* name);

// A test with the SDK started, a temporary folder and an empty package open.
class PackageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    int Put(const char* type, const char* name, std::vector<uint8_t> bytes, uint8_t mode = stored);
    // The payload of a block, empty when there is none.
    std::vector<uint8_t> Get(const char* type, const char* name);

    SdkSession sdk;
    TempDir dir;
    int id = 0;
};

// A package being built in this process; written when closed.
class PackageBuilder {
public:
    explicit PackageBuilder(const std::string& path);
    ~PackageBuilder() { Close(); }
    void Close();
    int id() const { return id_; }

    void Image(const char* name, SDL_Surface* s);  // takes the surface
    void Tile(const char* name, SDL_Surface* s, const char* type = "TILE2", int x = 0, int y = 0,
              bool tileset = false);                                // takes the surface
    void Sprite(const char* name, SDL_Surface* s, int fw, int fh);  // takes the surface
    // A 64 x 48 sheet of 16 x 16 frames with animation properties set.
    void AnimatedSprite(const char* name);
    void Font(const char* name, int kerning);
    void Sound(const char* name, const std::string& file);
    void Music(const char* name, const std::string& file);
    void Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode = stored);
    // A widget of the given type with its "_n", "_p", "_o" state images
    // (and "_s" for a complex button) stored first, through IButton::Save.
    void Widget(const char* name, uint8_t type);
    // 1.0 blocks: a 2.0 payload made here without its trailer.
    void LegacyTile(const char* name, const std::string& scratchDir);
    void LegacyFont(const char* name, const std::string& scratchDir);
    void Delete(const char* name, const char* type);

private:
    int id_ = 0;
};

struct Entry {
    std::string name;
    std::string type;
};
std::vector<Entry> Entries(const std::string& package);
// The block's loaded payload; empty when it does not load.
std::vector<uint8_t> Block(const std::string& package, const char* type, const char* name);
bool HasBlock(const std::string& package, const char* type, const char* name);

// Every kind a package can hold.
int BuildEveryKind(const std::string& path, const std::string& scratchDir);
// A WAV file of the given frames, rate, channels, bits and format tag (1:
// PCM), with fmtExtra after the 16 bytes of its format record.
std::vector<uint8_t> Wav(uint32_t frames, uint32_t freq = 11025, uint16_t channels = 1, uint16_t bits = 16,
                         uint16_t tag = 1, const std::vector<uint8_t>& fmtExtra = {});
// A 3.0 package: its 256-byte header, entries appended (with the marker of
// dots or of 0xB7 bytes), and one of one live raw block and one deleted one.
std::vector<uint8_t> V3Header();
void AddV3(std::vector<uint8_t>& file, bool dots, const char* name, const char* type, uint8_t mode, uint32_t size,
           const std::vector<uint8_t>& payload);
std::vector<uint8_t> V3Package();
// Overwrites the packed payload of the first entry (which must be
// compressed) with garbage and has the manager write a matching checksum:
// the package opens but that block's data cannot be restored.
void DamageFirstPayload(const std::string& path);

// Block payloads written by hand

struct TileFields {
    uint32_t tileset = 0;
    int32_t xoffset = 0;
    int32_t yoffset = 0;
    int32_t x = 0, y = 0;
    uint32_t colorkey = kNoColorKey;
    uint8_t alpha = 255;
};
// A tile payload of surface s: version 2.0, or 1.0 without the trailer.
std::vector<uint8_t> TileBytes(SDL_Surface* s, const TileFields& f, bool version1 = false);

struct AnimRow {
    uint16_t frames;
    uint32_t ms = 100;
};
// A sprite payload for sheet s: "SPR2", or "SPR" when version1.
std::vector<uint8_t> SpriteBytes(SDL_Surface* s, uint32_t fw, uint32_t fh, const std::vector<AnimRow>& anims,
                                 uint32_t colorkey, uint8_t alpha, bool version1 = false, int32_t x = 0, int32_t y = 0);

}  // namespace testsupport
