#include "Support.h"

#include <sys/mount.h>

#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <tinyxml.h>

#include "core/Endian.h"
#include "core/Trovalis.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace fs = std::filesystem;

namespace testsupport {

// Log, SDK, files, processes

SdkSession::SdkSession() { Trovalis.Init(0); }
SdkSession::~SdkSession() { Trovalis.Quit(); }

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "bundlex-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char* made = mkdtemp(buf.data());
    path_ = made ? made : tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

SmallDisk::SmallDisk(const std::string& path, const std::string& size) : path_(path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

::testing::AssertionResult ContainsAll(const std::string& text, const std::vector<std::string>& parts) {
    for (const std::string& part : parts)
        if (!Contains(text, part)) return ::testing::AssertionFailure() << part << "\nin:\n" << text;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        const size_t found = text.find(part, at);
        if (found == std::string::npos) return ::testing::AssertionFailure() << part << "\nin:\n" << text;
        at = found + part.size();
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string SourceDir() { return BUNDLEX_SOURCE_DIR; }

std::string Golden(const std::string& name) {
    const std::vector<uint8_t> bytes = ReadFile(SourceDir() + "/tests/data/" + name);
    return std::string(bytes.begin(), bytes.end());
}

namespace {
std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
}  // namespace

int Shell(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunBundlex(const std::vector<std::string>& args, std::string& out, const std::string& dir,
               const std::string& tmpdir) {
    std::string cmd;
    if (!dir.empty()) cmd += "cd " + Quote(dir) + " && ";
    if (!tmpdir.empty()) cmd += "TMPDIR=" + Quote(tmpdir) + " ";
    cmd += Quote(BUNDLEX_EXE);
    for (const auto& a : args) cmd += " " + Quote(a);
    return Shell(cmd, out);
}

std::string Lines(const std::string& console) {
    std::string s = console;
    std::replace(s.begin(), s.end(), '\r', '\n');
    return s;
}

static int Jq(const std::string& json, const std::string& filter, std::string& out) {
    TempDir d;
    if (!WriteFile(d / "doc.json", Bytes(json))) return -1;
    const int rc = Shell("jq -r " + Quote(filter) + " " + Quote(d / "doc.json") + " 2>&1", out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return rc;
}

std::string JqOut(const std::string& json, const std::string& filter) {
    std::string out;
    return Jq(json, filter, out) == 0 ? out : "jq failed: " + out;
}

bool PythonParses(const std::string& json) {
    TempDir d;
    if (!WriteFile(d / "doc.json", Bytes(json))) return false;
    std::string out;
    return Shell("python3 -m json.tool " + Quote(d / "doc.json") + " >/dev/null 2>&1", out) == 0;
}

std::vector<std::pair<std::string, std::string>> Attributes(const TiXmlElement* e) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) out.emplace_back(a->Name(), a->Value());
    return out;
}

std::vector<const TiXmlElement*> Children(const TiXmlElement* e, const char* tag) {
    std::vector<const TiXmlElement*> out;
    for (const TiXmlElement* c = tag ? e->FirstChildElement(tag) : e->FirstChildElement(); c;
         c = tag ? c->NextSiblingElement(tag) : c->NextSiblingElement())
        out.push_back(c);
    return out;
}

// Surfaces

namespace {
void Put32(SDL_Surface* s, int x, int y, Uint32 v) {
    std::memcpy(static_cast<Uint8*>(s->pixels) + y * s->pitch + x * 4, &v, 4);
}
}  // namespace

SDL_Surface* Rgba(int w, int h, uint32_t seed) {
    SDL_Surface* s =
        SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put32(s, x, y,
                  SDL_MapRGBA(s->format, static_cast<Uint8>(x * 7 + seed), static_cast<Uint8>(y * 5 + seed * 3),
                              static_cast<Uint8>(x ^ y), static_cast<Uint8>((x + y) * 9 + 1)));
    return s;
}

SDL_Surface* Rgb(int w, int h, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put32(s, x, y,
                  SDL_MapRGB(s->format, static_cast<Uint8>(x * 11 + seed), static_cast<Uint8>(y * 3),
                             static_cast<Uint8>(seed * 17)));
    return s;
}

SDL_Surface* Pattern(int w, int h, int bpp, uint32_t r, uint32_t g, uint32_t b, uint32_t a, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, w, h, bpp, r, g, b, a);
    if (!s) return nullptr;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = seed + x + 7 * y;
            std::memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel, &v,
                        s->format->BytesPerPixel);
        }
    return s;
}

SurfacePtr MakePaletted(int w, int h) {
    SurfacePtr s(SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0));
    SDL_Color colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = SDL_Color{static_cast<Uint8>(i), static_cast<Uint8>(255 - i), static_cast<Uint8>(i / 2), 0};
    SDL_SetColors(s.get(), colors, 0, 256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            static_cast<Uint8*>(s->pixels)[y * s->pitch + x] = static_cast<Uint8>((x + 3 * y) & 255);
    return s;
}

SurfacePtr MakeRGB(int w, int h, int depth, bool alphaMask) {
    SurfacePtr s(SDL_CreateRGBSurface(0, w, h, depth, 0x00FF0000, 0x0000FF00, 0x000000FF, alphaMask ? 0xFF000000 : 0));
    const int bpp = s->format->BytesPerPixel;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * bpp;
            const uint32_t v = SDL_MapRGBA(s->format, static_cast<Uint8>(x * 17), static_cast<Uint8>(y * 29),
                                           static_cast<Uint8>(x * y + 5), static_cast<Uint8>(x * 60 + y * 7));
            for (int b = 0; b < bpp; ++b) p[b] = static_cast<uint8_t>(v >> (8 * b));
        }
    return s;
}

uint32_t Pixel(const SDL_Surface* s, int x, int y) {
    const int bpp = s->format->BytesPerPixel;
    const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * bpp;
    uint32_t v = 0;
    for (int b = 0; b < bpp; ++b) v |= uint32_t(p[b]) << (8 * b);
    return v;
}

bool SamePixels(const SDL_Surface* a, const SDL_Surface* b) {
    if (a->w != b->w || a->h != b->h || a->format->BytesPerPixel != b->format->BytesPerPixel) return false;
    for (int y = 0; y < a->h; ++y)
        if (std::memcmp(static_cast<const uint8_t*>(a->pixels) + y * a->pitch,
                        static_cast<const uint8_t*>(b->pixels) + y * b->pitch,
                        size_t(a->w) * a->format->BytesPerPixel) != 0)
            return false;
    return true;
}

SurfacePtr MakeFontBitmap(const FontLayout& l) {
    SurfacePtr s(SDL_CreateRGBSurface(0, LayoutWidth(l), l.height, 32, 0x00FF0000, 0x0000FF00, 0x000000FF,
                                      l.alphaChannel ? 0xFF000000u : 0));
    if (!s) return s;
    const Uint32 bg = SDL_MapRGBA(s->format, l.bg[0], l.bg[1], l.bg[2], l.alphaChannel ? 0 : 255);
    SDL_FillRect(s.get(), nullptr, bg);
    const int top = l.inkInRow0 ? 0 : 1;
    for (int i = 0; i < 94; ++i) {
        const int x0 = GlyphStart(l, i);
        Fill(s.get(), x0, top, l.ink, l.height - top, GlyphColour(s->format, i));
        if (i == l.splitGlyph)
            Fill(s.get(), x0 + l.ink / 2, 0, 1, l.height, SDL_MapRGB(s->format, l.bg[0], l.bg[1], l.bg[2]));
    }
    if (l.markers) {
        const Uint32 magenta = SDL_MapRGB(s->format, 255, 0, 255);
        if (l.leftGap) Fill(s.get(), 0, 0, 1, 1, magenta);
        for (int i = 0; i < 94; ++i) Fill(s.get(), GlyphStart(l, i) + l.ink, 0, 1, 1, magenta);
    }
    return s;
}

// PNG files

namespace {
void Append(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void NoFlush(png_structp) {}

bool EncodeInto(const PngSpec& spec, std::vector<uint8_t>& out, std::vector<png_bytep>& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colorType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (spec.interlaced) png_set_interlace_handling(png);
    if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    if (!spec.transAlpha.empty())
        png_set_tRNS(png, info, spec.transAlpha.data(), static_cast<int>(spec.transAlpha.size()), nullptr);
    if (spec.transColor) png_set_tRNS(png, info, nullptr, 0, &spec.trans);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBE32(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}
}  // namespace

std::vector<uint8_t> EncodePng(const PngSpec& spec) {
    std::vector<uint8_t> out;
    const size_t rowBytes = spec.pixels.size() / spec.height;
    std::vector<uint8_t> pixels = spec.pixels;
    std::vector<png_bytep> rows(spec.height);
    for (int y = 0; y < spec.height; ++y) rows[y] = pixels.data() + y * rowBytes;
    if (!EncodeInto(spec, out, rows)) out.clear();
    return out;
}

std::optional<std::vector<uint8_t>> PngChunk(const std::vector<uint8_t>& f, const char* type) {
    if (f.size() < 8 || png_sig_cmp(f.data(), 0, 8) != 0) return std::nullopt;
    for (size_t pos = 8; pos + 12 <= f.size();) {
        const uint32_t len =
            uint32_t(f[pos]) << 24 | uint32_t(f[pos + 1]) << 16 | uint32_t(f[pos + 2]) << 8 | f[pos + 3];
        if (len > f.size() - pos - 12) break;
        if (std::memcmp(&f[pos + 4], type, 4) == 0)
            return std::vector<uint8_t>(f.begin() + pos + 8, f.begin() + pos + 8 + len);
        pos += 12 + len;
    }
    return std::nullopt;
}

std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, w);
    PutBE32(ihdr, h);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    PutChunk(out, "IEND", {});
    return out;
}

std::vector<uint8_t> PalettedBmp(const PalettedBmpSpec& spec) {
    const bool core = spec.headerSize == 12;
    const int entries = BmpEntries(spec), entrySize = core ? 3 : 4;
    const size_t row = ((size_t(spec.width) * spec.bpp + 31) / 32) * 4;
    const uint32_t offset = 14 + spec.headerSize + uint32_t(entries * entrySize);
    std::vector<uint8_t> b(offset + row * size_t(spec.height), 0);
    b[0] = 'B';
    b[1] = 'M';
    StoreLE32(&b[2], static_cast<uint32_t>(b.size()));
    StoreLE32(&b[10], offset);
    StoreLE32(&b[14], spec.headerSize);
    if (core) {
        StoreLE16(&b[18], static_cast<uint16_t>(spec.width));
        StoreLE16(&b[20], static_cast<uint16_t>(spec.height));
        StoreLE16(&b[22], 1);
        StoreLE16(&b[24], spec.bpp);
    } else {
        StoreLE32(&b[18], static_cast<uint32_t>(spec.width));
        StoreLE32(&b[22], static_cast<uint32_t>(spec.topDown ? -spec.height : spec.height));
        StoreLE16(&b[26], 1);
        StoreLE16(&b[28], spec.bpp);
        StoreLE32(&b[34], static_cast<uint32_t>(row * size_t(spec.height)));
        StoreLE32(&b[38], 2835);
        StoreLE32(&b[42], 2835);
        StoreLE32(&b[46], spec.bpp == 8 ? uint32_t(entries) : 0);
        for (uint32_t i = 54; i < 14 + spec.headerSize; ++i) b[i] = static_cast<uint8_t>(0x5A + i * 13);
        if (spec.headerSize >= 108) std::memcpy(&b[70], "BGRs", 4);
    }
    const size_t palette = 14 + spec.headerSize;
    for (int i = 0; i < entries; ++i) {
        const SDL_Color c = BmpEntryColour(i);
        b[palette + size_t(i) * entrySize] = c.b;
        b[palette + size_t(i) * entrySize + 1] = c.g;
        b[palette + size_t(i) * entrySize + 2] = c.r;
    }
    for (int y = 0; y < spec.height; ++y) {
        uint8_t* r = &b[offset + row * size_t(spec.topDown ? y : spec.height - 1 - y)];
        for (int x = 0; x < spec.width; ++x) {
            const size_t bit = size_t(x) * spec.bpp;
            r[bit / 8] |= static_cast<uint8_t>(BmpIndex(spec, x, y) << (8 - spec.bpp - bit % 8));
        }
    }
    return b;
}

// Packages

namespace {
BlockInfo Info(const char* type, const char* name, uint8_t mode = stored) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name);
    std::snprintf(info.type, sizeof info.type, "%s", type);
    info.mode = mode;
    return info;
}


std::vector<uint8_t> LoadBytes(int id, const char* type, const char* name) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::vector<uint8_t> out;
    if (g_pStuffVLT->LoadBlock(id, type, name, &info) > 0 && info.data) out.assign(info.data, info.data + info.size);
    g_pStuffVLT->FreeBlock(&info);
    return out;
}
}  // namespace

int AddBlock(int id, const char* type, const char* name, std::vector<uint8_t> bytes, uint8_t mode) {
    BlockInfo info = Info(type, name, mode);
    info.size = static_cast<uint32_t>(bytes.size());
    bytes.push_back(0);
    info.data = bytes.data();
    return g_pStuffVLT->AddData(id, &info);
}

int DeleteBlock(int id, const char* type, const char* name) {
    BlockInfo info = Info(type, name);
    return g_pStuffVLT->Delete(id, &info);
}

void PackageTest::SetUp() {
    id = g_pStuffVLT->Create((dir / "test.vlt").c_str());
    ASSERT_GT(id, 0) << "the package manager could not create a package";
}

void PackageTest::TearDown() {
    if (id > 0) g_pStuffVLT->Close(id);
}

int PackageTest::Put(const char* type, const char* name, std::vector<uint8_t> bytes, uint8_t mode) {
    return AddBlock(id, type, name, std::move(bytes), mode);
}

std::vector<uint8_t> PackageTest::Get(const char* type, const char* name) { return LoadBytes(id, type, name); }

PackageBuilder::PackageBuilder(const std::string& path) {
    id_ = g_pStuffVLT->Create(path.c_str());
    EXPECT_GT(id_, 0) << path;
}

void PackageBuilder::Close() {
    if (id_ > 0) g_pStuffVLT->Close(id_);
    id_ = 0;
}

void PackageBuilder::Image(const char* name, SDL_Surface* s) {
    EXPECT_GT(g_pImage->Save(id_, name, s), 0) << name;
    SDL_FreeSurface(s);
}

void PackageBuilder::Tile(const char* name, SDL_Surface* s, const char* type, int x, int y, bool tileset) {
    CTile t;
    EXPECT_TRUE(t.Create(s, name)) << name;
    SDL_FreeSurface(s);
    t.SetPosition(x, y);
    if (tileset) {
        EXPECT_TRUE(t.SetTileset(1, 8, 4)) << name;
    }
    EXPECT_GT(t.Save(id_, type), 0) << name;
}

void PackageBuilder::Sprite(const char* name, SDL_Surface* s, int fw, int fh) {
    CSprite sp;
    EXPECT_GT(sp.Create(s, name, fw, fh), 0) << name;
    SDL_FreeSurface(s);
    EXPECT_GT(sp.Save(id_, "SPR2"), 0) << name;
}

void PackageBuilder::AnimatedSprite(const char* name) {
    CSprite sp;
    SurfacePtr sheet(Rgba(64, 48, 9));
    EXPECT_GT(sp.Create(sheet.get(), name, 16, 16), 0) << name;
    EXPECT_TRUE(sp.SetAnimProperties(1, 4, 1, -3, 5, 0, 3));
    EXPECT_TRUE(sp.SetAnimProperties(2, 8, 0, 2, 2, 1, 2));
    EXPECT_TRUE(sp.SetFrame(1, 2, 250));
    EXPECT_TRUE(sp.SetFrame(3, 4, 40));
    EXPECT_GT(sp.Save(id_, "SPR2"), 0) << name;
}

void PackageBuilder::Font(const char* name, int kerning) {
    CFont f;
    SurfacePtr s = MakeFontBitmap(FontLayout{});
    EXPECT_EQ(f.Create(s.get()), CFont::kCreated) << name;
    f.SetKerning(kerning);
    EXPECT_GT(f.Save(id_, name), 0) << name;
}

void PackageBuilder::Sound(const char* name, const std::string& file) {
    EXPECT_GT(g_pSoundFX->SoundImport(id_, name, file.c_str()), 0) << name;
}

void PackageBuilder::Music(const char* name, const std::string& file) {
    EXPECT_GT(g_pSoundFX->MusicImport(id_, name, file.c_str()), 0) << name;
}

void PackageBuilder::Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode) {
    EXPECT_GT(AddBlock(id_, type, name, bytes, mode), 0) << name;
}

void PackageBuilder::Widget(const char* name, uint8_t type) {
    const std::vector<std::string> suffixes = type == kButtonComplex ? std::vector<std::string>{"_n", "_s", "_p", "_o"}
                                                                     : std::vector<std::string>{"_n", "_p", "_o"};
    uint32_t seed = 20;
    for (const std::string& suffix : suffixes) Tile((name + suffix).c_str(), Rgb(12, 6, seed++), "TILB2");
    ButtonRecord r;
    r.key = 32;
    r.type = type;
    r.selectBox = 0xFF00FF00u;
    r.x = 40;
    r.y = -7;
    r.range = type == kButtonSlider ? 100 : -5;
    r.value = type == kButtonSlider ? 60 : 77;
    EXPECT_GT(g_pButton->Save(id_, name, &r), 0) << name;
}

namespace {
// A 2.0 payload made in a scratch package, without its last `trailer` bytes.
std::vector<uint8_t> Legacy(const char* name, const std::string& scratchDir, bool font) {
    const std::string scratch = scratchDir + "/legacy-scratch.vlt";
    std::vector<uint8_t> payload;
    {
        PackageBuilder p(scratch);
        if (font)
            p.Font(name, 0);
        else
            p.Tile(name, Rgb(10, 5, 3), "TILE2", 6, 9);
        payload = LoadBytes(p.id(), font ? "FONT2" : "TILE2", name);
    }
    fs::remove(scratch);
    const size_t trailer = font ? CFont::kTailSize : CTile::kTrailerSize;
    EXPECT_GT(payload.size(), trailer);
    payload.resize(payload.size() > trailer ? payload.size() - trailer : 0);
    return payload;
}
}  // namespace

void PackageBuilder::LegacyTile(const char* name, const std::string& scratchDir) {
    Raw(name, "TILE", Legacy(name, scratchDir, false), compressed);
}

void PackageBuilder::LegacyFont(const char* name, const std::string& scratchDir) {
    Raw(name, "FONT", Legacy(name, scratchDir, true), compressed);
}

void PackageBuilder::Delete(const char* name, const char* type) { EXPECT_EQ(DeleteBlock(id_, type, name), 1) << name; }

std::vector<Entry> Entries(const std::string& package) {
    std::vector<Entry> out;
    const int id = g_pStuffVLT->Open(package.c_str());
    if (id < 1) return out;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    if (g_pStuffVLT->FindFirst(id, &info) == 1) {
        do {
            out.push_back(
                {std::string(info.name, strnlen(info.name, 32)), std::string(info.type, strnlen(info.type, 8))});
        } while (g_pStuffVLT->FindNext(id, &info) == 1);
    }
    g_pStuffVLT->Close(id);
    return out;
}

std::vector<uint8_t> Block(const std::string& package, const char* type, const char* name) {
    const int id = g_pStuffVLT->Open(package.c_str());
    if (id < 1) return {};
    std::vector<uint8_t> out = LoadBytes(id, type, name);
    g_pStuffVLT->Close(id);
    return out;
}

bool HasBlock(const std::string& package, const char* type, const char* name) {
    for (const Entry& e : Entries(package))
        if (e.type == type && e.name == name) return true;
    return false;
}

std::vector<uint8_t> Wav(uint32_t frames, uint32_t freq, uint16_t channels, uint16_t bits, uint16_t tag,
                         const std::vector<uint8_t>& fmtExtra) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    std::vector<uint8_t> w(36, 0);
    std::memcpy(w.data(), "RIFF....WAVEfmt ", 16);
    StoreLE32(&w[16], static_cast<uint32_t>(16 + fmtExtra.size()));
    StoreLE16(&w[20], tag);
    StoreLE16(&w[22], channels);
    StoreLE32(&w[24], freq);
    StoreLE32(&w[28], freq * align);
    StoreLE16(&w[32], align);
    StoreLE16(&w[34], bits);
    w.insert(w.end(), fmtExtra.begin(), fmtExtra.end());
    w.insert(w.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
    StoreLE32(&w[w.size() - 4], frames * align);
    for (uint32_t i = 0; i < frames * align; ++i) w.push_back(static_cast<uint8_t>(i * 13));
    StoreLE32(&w[4], static_cast<uint32_t>(w.size() - 8));
    return w;
}

int BuildEveryKind(const std::string& path, const std::string& scratchDir) {
    const std::string wav = scratchDir + "/tone.wav";
    EXPECT_TRUE(WriteFile(wav, Wav(400)));
    PackageBuilder p(path);
    p.Image("logo", Rgba(20, 10, 1));
    SDL_Surface* keyed = Rgb(16, 8, 2);
    SDL_SetColorKey(keyed, SDL_SRCCOLORKEY, SDL_MapRGB(keyed->format, 22, 3, 34));
    SDL_SetAlpha(keyed, SDL_SRCALPHA, 128);
    p.Image("backdrop", keyed);
    p.Tile("ground", Rgb(16, 8, 5), "TILE2", 3, 4);
    p.Tile("terrain", Rgba(32, 16, 6), "TILE2", -2, 7, true);
    p.LegacyTile("oldtile", scratchDir);
    p.AnimatedSprite("hero");
    p.Font("small", 2);
    p.LegacyFont("oldfont", scratchDir);
    p.Sound("chime", wav);
    p.Music("theme", SourceDir() + "/tests/data/sounds/tone_22050_stereo.ogg");
    p.Raw("readme", "FILE", std::vector<uint8_t>(300, 'r'), compressed);
    p.Raw("config", "FILE", {1, 2, 3, 4, 5}, stored);
    p.Raw("levels/one", "FILE", {9, 8, 7}, crypted);
    p.Raw("gone", "FILE", {1}, stored);
    p.Delete("gone", "FILE");
    p.Widget("play", kButtonNormal);
    return 2 + 3 + 1 + 2 + 1 + 1 + 3 + 3 + 1;
}

std::vector<uint8_t> V3Header() {
    std::vector<uint8_t> h(256, 0);
    std::memcpy(h.data(), "VLTv3.0", 7);
    std::strcpy(reinterpret_cast<char*>(h.data() + 8), "Old maker 2004");
    std::strcpy(reinterpret_cast<char*>(h.data() + 37), "Mon Jan  5 10:00:00 2004");
    return h;
}

void AddV3(std::vector<uint8_t>& file, bool dots, const char* name, const char* type, uint8_t mode, uint32_t size,
           const std::vector<uint8_t>& payload) {
    const char* marker = dots ? ".BlockData."
                              : "\xB7"
                                "BlockData"
                                "\xB7";
    file.insert(file.end(), marker, marker + 11);
    uint8_t fields[46] = {};
    std::strncpy(reinterpret_cast<char*>(fields), name, 31);
    std::strncpy(reinterpret_cast<char*>(fields + 32), type, 4);
    fields[37] = mode;
    StoreLE32(fields + 38, size);
    StoreLE32(fields + 42, static_cast<uint32_t>(payload.size()));
    file.insert(file.end(), fields, fields + 46);
    file.insert(file.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> V3Package() {
    std::vector<uint8_t> f = V3Header();
    AddV3(f, true, "notes", "FILE", stored, 4, {'v', '3', '!', '\n'});
    AddV3(f, true, "?ld", "DELE", stored, 3, {1, 2, 3});
    return f;
}

void DamageFirstPayload(const std::string& path) {
    // The first entry's payload starts after the head, the header block, its marker and its descriptor.
    constexpr size_t kPayload = 520 + 16 + 64;
    std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), kPayload + 8);
    ASSERT_EQ(bytes[520 + 16 + 40], compressed);
    const uint32_t packed = LoadLE32(bytes.data() + 520 + 16 + 48);
    ASSERT_LE(kPayload + packed, bytes.size());
    for (uint32_t i = 0; i < packed; ++i) bytes[kPayload + i] = static_cast<uint8_t>(0xFF - i);
    ASSERT_TRUE(WriteFile(path, bytes));
    // The manager remembers the file under its path and length and does not test the checksum again.
    const int id = g_pStuffVLT->Open(path.c_str());
    ASSERT_GT(id, 0);
    ASSERT_GT(AddBlock(id, "FILE", "pad", {1}, stored), 0);
    ASSERT_EQ(DeleteBlock(id, "FILE", "pad"), 1);
    g_pStuffVLT->Close(id);
}

// Block payloads

std::vector<uint8_t> TileBytes(SDL_Surface* s, const TileFields& f, bool version1) {
    const uint32_t pitch = SoftwarePitch(s->w, s->format->BitsPerPixel);
    const size_t area = size_t(pitch) * s->h + (s->format->BitsPerPixel == 8 ? 1024 : 0);
    std::vector<uint8_t> p(64 + area + (version1 ? 0 : 64), 0);
    StoreLE32(&p[0], s->w);
    StoreLE32(&p[4], s->h);
    StoreLE32(&p[8], f.x);
    StoreLE32(&p[12], f.y);
    StoreLE32(&p[16], f.tileset);
    StoreLE32(&p[20], f.xoffset);
    StorePixelFormatRecord(&p[24], s->format);
    StoreLE32(&p[56], f.colorkey);
    p[60] = f.alpha;
    for (int y = 0; y < s->h; ++y)
        std::memcpy(&p[64 + size_t(y) * pitch], static_cast<uint8_t*>(s->pixels) + y * s->pitch, pitch);
    if (s->format->BitsPerPixel == 8)
        for (int i = 0; i < 256 && i < s->format->palette->ncolors; ++i) {
            uint8_t* c = &p[64 + size_t(pitch) * s->h + 4 * i];
            c[0] = s->format->palette->colors[i].r;
            c[1] = s->format->palette->colors[i].g;
            c[2] = s->format->palette->colors[i].b;
        }
    if (!version1) StoreLE32(&p[p.size() - 64], f.yoffset);
    return p;
}

std::vector<uint8_t> SpriteBytes(SDL_Surface* s, uint32_t fw, uint32_t fh, const std::vector<AnimRow>& anims,
                                 uint32_t colorkey, uint8_t alpha, bool version1, int32_t x, int32_t y) {
    std::vector<uint8_t> p(24, 0);
    StoreLE32(&p[0], fw);
    StoreLE32(&p[4], fh);
    StoreLE32(&p[8], uint32_t(x));
    StoreLE32(&p[12], uint32_t(y));
    StoreLE32(&p[16], uint32_t(anims.size()));
    StoreLE32(&p[20], uint32_t(s->w));
    for (size_t i = 0; i < anims.size(); ++i) {
        std::vector<uint8_t> rec(version1 ? 12 : 64, 0);
        StoreLE16(&rec[0], 4);
        StoreLE16(&rec[2], uint16_t(0x8000 + i));
        StoreLE16(&rec[4], anims[i].frames);
        if (!version1) {
            StoreLE16(&rec[14], anims[i].frames);
            StoreLE16(&rec[16], uint16_t(int16_t(-3)));
            StoreLE16(&rec[18], 7);
        }
        p.insert(p.end(), rec.begin(), rec.end());
        for (uint16_t f = 0; f < anims[i].frames; ++f) {
            std::vector<uint8_t> fr(version1 ? 4 : 16, 0);
            StoreLE32(&fr[0], anims[i].ms + f);
            p.insert(p.end(), fr.begin(), fr.end());
        }
    }
    const size_t at = p.size();
    p.resize(at + 40);
    StorePixelFormatRecord(&p[at], s->format);
    StoreLE32(&p[at + 32], colorkey);
    p[at + 36] = alpha;
    const uint32_t pitch = SoftwarePitch(s->w, s->format->BitsPerPixel);
    for (int row = 0; row < s->h; ++row) {
        const uint8_t* src = static_cast<uint8_t*>(s->pixels) + row * s->pitch;
        p.insert(p.end(), src, src + pitch);
    }
    if (s->format->BitsPerPixel == 8)
        for (int i = 0; i < 256; ++i) {
            const SDL_Color c = s->format->palette->colors[i];
            p.insert(p.end(), {c.r, c.g, c.b, 0});
        }
    return p;
}

}  // namespace testsupport
