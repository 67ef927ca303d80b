// bundlex --gallery through the executable: every resource on the page once,
// names from the package as text and as safe links, the package untouched,
// pictures that are what the SDK draws, outputs that are not the gallery's
// own left alone, and a resource that cannot be shown reported with its
// cause. tests/gallery/browser_check.py reads the page back in a browser.
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "Support.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

using namespace testsupport;

namespace {

const char* const kHostile[] = {"<i id=pwn>x</i>", "q\"u'o&te %41 #h ?q /p", "caf\xE9 \xC3\xBC"};
// The same names as the page must write them.
const char* const kHostileHtml[] = {"&lt;i id=pwn&gt;x&lt;/i&gt;", "q&quot;u&#39;o&amp;te %41 #h ?q /p",
                                    "caf\xC3\xA9 \xC3\xBC"};

// Every kind, the 1.0 forms that reading would upgrade, the sound formats a
// browser plays only after conversion, a keyed image with per-surface alpha
// whose key occurs, a deleted entry and names that break HTML and URLs.
void BuildPackage(const std::string& path, const std::string& scratch) {
    const std::string wav = scratch + "/tone.wav";
    ASSERT_TRUE(WriteFile(wav, Wav(400)));
    const std::string sounds = SourceDir() + "/tests/data/sounds/";
    PackageBuilder p(path);
    p.Raw("readme", "FILE", std::vector<uint8_t>(300, 'r'), compressed);
    p.Image("logo", Rgba(20, 10, 1));
    SDL_Surface* keyed = Rgb(16, 8, 2);
    const Uint32 key = SDL_MapRGB(keyed->format, 22, 3, 34);
    Fill(keyed, 0, 0, 5, 3, key);
    SDL_SetColorKey(keyed, SDL_SRCCOLORKEY, key);
    SDL_SetAlpha(keyed, SDL_SRCALPHA, 128);
    p.Image("backdrop", keyed);
    p.Tile("terrain", Rgba(32, 16, 6), "TILE2", -2, 7, true);
    p.LegacyTile("oldtile", scratch);
    p.AnimatedSprite("hero");
    p.Font("small", 2);
    p.LegacyFont("oldfont", scratch);
    p.Sound("chime", wav);
    p.Sound("aiff", sounds + "tone_11025_mono16.aiff");
    p.Sound("voc", sounds + "tone_8000_mono8.voc");
    p.Music("theme", sounds + "tone_22050_stereo.ogg");
    std::vector<uint8_t> midi =
        Bytes(std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x12\0\xFF\3\x0ASong <b>&.", 36));
    midi.insert(midi.end(), {0, 0xFF, 0x2F, 0});
    p.Raw("midi", "MUS", midi, compressed);
    std::vector<uint8_t> xm = Bytes("Extended Module: Tune of \"x\"");
    xm.resize(200, 0);
    p.Raw("module", "MUS", xm, compressed);
    p.Raw("gone", "FILE", {1}, stored);
    p.Delete("gone", "FILE");
    p.Widget("play", kButtonNormal);
    for (int i = 0; i < 3; ++i) p.Image(kHostile[i], Rgb(4, 4, 10 + i));
}

std::string Text(const std::string& path) {
    const std::vector<uint8_t> b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

std::string PercentDecoded(const std::string& url) {
    std::string out;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += url[i];
        }
    }
    return out;
}

// The first picture of a resource's element.
std::string SrcOf(const std::string& page, const std::string& kind, const std::string& htmlName) {
    const size_t at = page.find("data-kind=\"" + kind + "\" data-name=\"" + htmlName + "\"");
    if (at == std::string::npos) return "";
    const std::smatch m = [&] {
        std::smatch r;
        std::regex_search(page.begin() + long(at), page.end(), r,
                          std::regex("src=\"([^\"]+)\"|--src:url\\(([^)]+)\\)"));
        return r;
    }();
    return PercentDecoded(m[1].matched ? m[1].str() : m[2].str());
}

struct Stamp {
    std::vector<uint8_t> bytes;
    struct timespec mtime;
    explicit Stamp(const std::string& path) : bytes(ReadFile(path)) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        mtime = st.st_mtim;
    }
    bool operator==(const Stamp& o) const {
        return bytes == o.bytes && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

class GalleryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SdkSession sdk;
        BuildPackage(pkg, dir.path());
    }
    TempDir dir;
    const std::string pkg = dir / "game.vlt";
    const std::string page = dir / "game.html";
    const std::string folder = dir / "game_gallery";
};

TEST_F(GalleryTest, PictureOrSoundDiffersFromWhatTheSdkPlays) {
    std::string out;
    ASSERT_EQ(RunBundlex({"--gallery", pkg}, out), 0) << out;
    const std::string html = Text(page);
    SdkSession sdk;
    const int id = g_pStuffVLT->Open(pkg.c_str());
    ASSERT_GT(id, 0);
    std::vector<std::pair<std::string, SurfacePtr>> shown;  // page source, surface as the SDK decodes it
    for (int i = 0; i < 5; ++i) {
        const char* name = i < 2 ? (i ? "backdrop" : "logo") : kHostile[i - 2];
        const char* htmlName = i < 2 ? name : kHostileHtml[i - 2];
        shown.emplace_back(SrcOf(html, "image", htmlName), SurfacePtr(g_pImage->Load(id, name)));
    }
    CTile terrain, state;
    ASSERT_TRUE(terrain.Load(id, "terrain", "TILE2"));
    ASSERT_TRUE(state.Load(id, "play_n", "TILB2"));
    CSprite hero;
    ASSERT_GT(hero.Load(id, "hero", "SPR2"), 0);
    int transparent = 0;
    auto compare = [&](const std::string& src, SDL_Surface* s) {
        SCOPED_TRACE(src);
        ASSERT_TRUE(s);
        SurfacePtr png(g_pImage->LoadPNG((dir / src).c_str()));
        ASSERT_TRUE(png);
        ASSERT_EQ(png->format->BytesPerPixel, 4);
        ASSERT_TRUE(png->w == s->w && png->h == s->h);
        const bool perPixel = s->format->Amask && (s->flags & SDL_SRCALPHA);
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) {
                const Uint32 v = Pixel(s, x, y);
                Uint8 c[4], g[4];
                SDL_GetRGBA(v, s->format, &c[0], &c[1], &c[2], &c[3]);
                if (!perPixel)
                    c[3] = (s->flags & SDL_SRCCOLORKEY) && v == s->format->colorkey ? 0
                           : (s->flags & SDL_SRCALPHA)                              ? s->format->alpha
                                                                                    : 255;
                SDL_GetRGBA(Pixel(png.get(), x, y), png->format, &g[0], &g[1], &g[2], &g[3]);
                transparent += g[3] == 0;
                ASSERT_TRUE(std::equal(c, c + 4, g)) << "pixel " << x << "," << y;
            }
    };
    for (auto& [src, surface] : shown) compare(src, surface.get());
    compare(SrcOf(html, "tile", "terrain"), terrain.GetSurface());
    compare(SrcOf(html, "widget", "play"), state.GetSurface());
    compare(SrcOf(html, "sprite", "hero"), hero.GetSurface());
    EXPECT_GT(transparent, 0) << "no keyed pixel was compared";
    // AIFF and VOC sounds become WAV files of their own format.
    for (const char* name : {"aiff", "voc"}) {
        SCOPED_TRACE(name);
        AudioInfo info{};
        ASSERT_TRUE(g_pSoundFX->SoundInfo(id, name, &info));
        const std::string src = SrcOf(html, "sound", name);
        ASSERT_TRUE(Contains(src, ".wav"));
        SDL_AudioSpec spec{};
        Uint8* buf = nullptr;
        Uint32 len = 0;
        ASSERT_TRUE(SDL_LoadWAV((dir / src).c_str(), &spec, &buf, &len));
        SDL_FreeWAV(buf);
        EXPECT_EQ(std::make_pair(spec.freq, int(spec.channels)),
                  std::make_pair(int(info.frequency), int(info.channels)));
        EXPECT_GT(len, 100u);
    }
    g_pStuffVLT->Close(id);
}

// Outputs the gallery does not own are never replaced or written through.
TEST_F(GalleryTest, ForeignOutputIsOverwritten) {
    std::string out;
    ASSERT_TRUE(WriteFile(dir / "user.html", Bytes("<p>my page</p>")));
    ASSERT_EQ(::symlink((dir / "user.html").c_str(), (dir / "link.html").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "lonely_gallery").c_str(), 0755), 0);
    ASSERT_EQ(RunBundlex({"--gallery", pkg, dir / "own.html"}, out), 0) << out;
    ASSERT_EQ(::rename((dir / "own_gallery").c_str(), (dir / "moved").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "moved").c_str(), (dir / "own_gallery").c_str()), 0);
    const struct {
        std::string output, says;
    } cases[] = {
        {"game.htm", "does not end in \".html\""},
        {"user.html", "exists and is no gallery page"},
        {"link.html", "symbolic link or not a regular file"},
        {"lonely.html", "exists without its gallery page"},
        {"own.html", "symbolic link or not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::vector<std::string> before = Listing(dir.path());
        EXPECT_EQ(RunBundlex({"--gallery", pkg, dir / c.output}, out), 1);
        EXPECT_TRUE(Contains(out, " - Error: no gallery of ") && Contains(out, c.says)) << out;
        EXPECT_EQ(Listing(dir.path()), before);
    }
    EXPECT_EQ(Text(dir / "user.html"), "<p>my page</p>");
    EXPECT_TRUE(Listing(dir / "moved").size() > 10);
    ASSERT_EQ(::unlink((dir / "own_gallery").c_str()), 0);
    ASSERT_EQ(::rename((dir / "moved").c_str(), (dir / "own_gallery").c_str()), 0);
    EXPECT_EQ(RunBundlex({"--gallery", pkg, dir / "own.html"}, out), 0) << "its own page is replaced: " << out;
    EXPECT_EQ(RunBundlex({"--gallery"}, out), 2);
    EXPECT_EQ(RunBundlex({"--gallery", pkg, dir / "a.html", dir / "b.html"}, out), 2);
}

TEST_F(GalleryTest, PictureChangedSinceTheGalleryWroteItIsRefusedUnlessForced) {
    std::string out;
    ASSERT_EQ(RunBundlex({"--gallery", pkg}, out), 0) << out;
    ASSERT_EQ(RunBundlex({"--gallery", pkg}, out), 0) << "an unchanged gallery is replaced: " << out;
    ASSERT_TRUE(WriteFile(folder + "/img_logo.png", Bytes("my drawing")));
    EXPECT_EQ(RunBundlex({"--gallery", pkg}, out), 1) << out;
    EXPECT_TRUE(Contains(out, "game_gallery/img_logo.png' (changed since it was written)")) << out;
    EXPECT_EQ(Text(folder + "/img_logo.png"), "my drawing");
    EXPECT_EQ(RunBundlex({"--gallery", pkg, "--force"}, out), 0) << out;
    EXPECT_NE(Text(folder + "/img_logo.png"), "my drawing");
}

TEST_F(GalleryTest, PageFollowsTheUmask) {
    std::string out;
    ASSERT_EQ(Shell("umask 027 && " + std::string(BUNDLEX_EXE) + " --gallery " + pkg, out), 0) << out;
    struct stat st {};
    ASSERT_EQ(::stat(page.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A full disk ends the run; the gallery written before stays whole.
TEST_F(GalleryTest, FullDiskKeepsThePreviousGalleryWhole) {
    SmallDisk disk(dir / "small", "1m");
    if (!disk.ok()) GTEST_SKIP() << "a small disk needs root";
    std::string out;
    ASSERT_EQ(RunBundlex({"--gallery", pkg, dir / "small/g.html"}, out), 0) << out;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> before;
    for (const std::string& f : Listing(dir / "small/g_gallery"))
        before.emplace_back(f, ReadFile(dir / "small/g_gallery/" + f));
    Shell("head -c 2M /dev/zero > " + dir / "small/filler", out);  // fills the disk
    EXPECT_EQ(RunBundlex({"--gallery", pkg, dir / "small/g.html"}, out), 1) << out;
    EXPECT_TRUE(Contains(out, "No space left on device")) << out;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> after;
    for (const std::string& f : Listing(dir / "small/g_gallery"))
        after.emplace_back(f, ReadFile(dir / "small/g_gallery/" + f));
    EXPECT_EQ(after, before);
    EXPECT_EQ(Listing(dir / "small"), (std::vector<std::string>{"filler", "g.html", "g_gallery"}));
}

TEST_F(GalleryTest, UnshowableResourceGoesUnreported) {
    const std::string damaged = dir / "damaged.vlt";
    {
        SdkSession sdk;  // the manager that wrote it takes the damaged file for its own
        BuildPackage(damaged, dir.path());
        DamageFirstPayload(damaged);
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--gallery", damaged}, out), 3);
    EXPECT_TRUE(Contains(out,
                         "\n - WARNING: problem found showing 'readme' file.\n\n - Info: the block could not be "
                         "read from the package"))
        << out;
    EXPECT_TRUE(Contains(Text(dir / "damaged.html"), "class=\"res failed\" data-kind=\"file\" data-name=\"readme\""));
    EXPECT_EQ(RunBundlex({"--gallery", damaged, "--json"}, out), 3);
    EXPECT_EQ(JqOut(out, "[.ok, .failed, (.messages|length)] | map(tostring) | join(\" \")"), "false 1 2") << out;
}

}  // namespace
