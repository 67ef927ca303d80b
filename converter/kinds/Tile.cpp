// The tile kind: a picture placed on the map, or a tile set cut into tiles
// of one size; a "tile" element. A widget's state images are tile blocks
// too, and are read and written here for the widget kind.
#include <cstring>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "resources/Tile.h"

namespace orb {

bool IsTilesetEnabled(const char* tileset) { return tileset && std::strncmp(tileset, kEnabled, 7) == 0; }

namespace {

const char* const kTileset = "tileset is \"enabled\"";

const Elements kElements = {
    {"tile",
     "ORB",
     "a tile or a tile set (TILE2 block; 1.0 TILE blocks are upgraded and exported alike)",
     {NameRow(), SourceRow(), BlendingRow("per-pSurface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow(),
      Int("xposition", kIntMin, kIntMax, Need::Required, "the tile's place on the map, left to right, in pixels"),
      Int("yposition", kIntMin, kIntMax, Need::Required, "the tile's place on the map, top to bottom, in pixels"),
      Words(
          "tileset", {"enabled", "disabled"}, Need::Required,
          "whether the picture is a tile set: \"enabled\" cuts it into tiles of xoffset x yoffset; \"disabled\" keeps it whole"),
      Int("xoffset", 1, kIntMax, Need::Conditional, "the width of one tile of the set, in pixels", kTileset),
      Int("yoffset", 1, kIntMax, Need::Conditional, "the height of one tile of the set, in pixels", kTileset)}},
};

using namespace exportstep;
using namespace importstep;
using samemeaning::Strictness;

bool Export(ExportSession& s, const std::string& n) {
    CTile tile;
    if (!tile.Load(s.pkg, n.c_str(), kinds::TypeOf(kinds::Kind::Tile))) return s.Fail(kUnreadableBlock);
    Graphic g;
    if (!WriteGraphic(s, kTileKind.filePrefix, n, tile.GetSurface(), tile.GetAlpha() == 256, g)) return false;
    if (!exportstep::Open(s, kTileKind.tag())) return false;
    SetText(s, attr::kName, n.c_str());
    SetGraphicAttributes(s, g, kTilePerSurface);
    SetInt(s, attr::kXPosition, tile.GetPositionX());
    SetInt(s, attr::kYPosition, tile.GetPositionY());
    int xo = 0, yo = 0;
    if (tile.GetTileset(&xo, &yo)) {
        SetText(s, attr::kTileset, kEnabled);
        SetInt(s, attr::kXOffset, xo);
        SetInt(s, attr::kYOffset, yo);
    } else {
        SetText(s, attr::kTileset, kDisabled);
    }
    Close(s);
    return true;
}

// A tile made from the element's payload: per-pixel from the PNG surface,
// per-surface from the file, with its colour key and alpha.
bool CreateTile(ImportSession& s, CTile& tile, bool perPixel) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    SurfacePtr surface(perPixel ? LoadPerPixel(bytes) : DecodeImageFile(bytes));
    if (!surface) return PayloadFails(s, source, bytes, perPixel ? "PNG" : "BMP");
    if (!tile.Create(surface.get(), "temp")) return Fail(s, "the tile class refused the image.");
    return perPixel || ReadSurfaceKeysInto(s, surface.get(), tile);
}

// The element's place on the map and its tile set.
bool ReadPlace(ImportSession& s, CTile& tile) {
    int x = 0, y = 0;
    if (!importstep::Int(s, attr::kXPosition, x) || !importstep::Int(s, attr::kYPosition, y)) return false;
    tile.SetPosition(x, y);
    std::string tileset;
    if (!Text(s, attr::kTileset, tileset)) return false;
    if (!IsTilesetEnabled(tileset.c_str())) return true;
    int xo = 0, yo = 0;
    // A tile of the set is at least one pixel each way.
    if (!importstep::Int(s, attr::kXOffset, xo, 1) || !importstep::Int(s, attr::kYOffset, yo, 1)) return false;
    tile.SetTileset(1, xo, yo);
    return true;
}

bool Import(ImportSession& s, std::string& name) {
    return ReadName(s, name) && ImportTileBlock(s, name, kinds::TypeOf(kinds::Kind::Tile), true, "");
}

void CompareTiles(const CTile& a, const CTile& b, Strictness how, std::vector<std::string>& diffs) {
    using samemeaning::Num;
    if (a.GetPositionX() != b.GetPositionX() || a.GetPositionY() != b.GetPositionY())
        diffs.push_back("position (" + Num(a.GetPositionX()) + "," + Num(a.GetPositionY()) + ") became (" +
                        Num(b.GetPositionX()) + "," + Num(b.GetPositionY()) + ")");
    int wa = 0, ha = 0, wb = 0, hb = 0;
    const int sa = a.GetTileset(&wa, &ha);
    const int sb = b.GetTileset(&wb, &hb);
    auto tileset = [](int on, int w, int h) { return on ? Num(w) + "x" + Num(h) : std::string("none"); };
    const bool kindDiffers = how == Strictness::Exact ? (sa != 0) != (sb != 0) : sa != sb;
    if (kindDiffers || (sa && (wa != wb || ha != hb)))
        diffs.push_back("tileset " + tileset(sa, wa, ha) + " became " + tileset(sb, wb, hb));
    samemeaning::CompareLooks(samemeaning::LookOf(a), samemeaning::LookOf(b), how, diffs);
}

// A tile, or a tile set cut into its numbered tiles.
std::string TileSetCells(SDL_Surface* g, int tw, int th, std::string& facts) {
    using gallery::N;
    const int cols = g->w / tw, rows = g->h / th;
    const long long total = (long long)cols * rows;
    facts += ", tiles of " + N(tw) + " x " + N(th) + " (" + N(cols) + " x " + N(rows) + ")";
    if (total > gallery::kMaxCells) facts += ", the first " + N(gallery::kMaxCells) + " shown";
    std::string body = "<div class=\"cells\">";
    for (long long i = 0; i < total && i < gallery::kMaxCells; ++i)
        body +=
            "<span class=\"cell\">" + gallery::Cut(int(i % cols) * tw, int(i / cols) * th, tw, th) + N(i) + "</span>";
    return body + "</div>\n";
}

bool Show(gallery::Session& s, const kinds::Entry& e) {
    using gallery::N;
    const kinds::KindRow* row = kinds::Find(e.type);
    CTile tile;
    if (!row || !tile.Load(s.pkg, e.name.c_str(), kinds::TypeOf(row->kind))) return s.Fail(kUnreadableBlock);
    SDL_Surface* g = tile.GetSurface();
    std::string url;
    if (!gallery::WritePng(s, "tile_", e.name, g, url)) return false;
    int tw = 0, th = 0;
    const bool set = tile.GetTileset(&tw, &th) && tw > 0 && th > 0 && tw <= g->w && th <= g->h;
    std::string body = gallery::Open(
        "tile", e.name, set ? " data-tiles=\"" + N((long long)(g->w / tw) * (g->h / th)) + "\"" : "", set ? url : "");
    std::string facts =
        gallery::GraphicFacts(g) + ", position " + N(tile.GetPositionX()) + ", " + N(tile.GetPositionY());
    body += set ? TileSetCells(g, tw, th, facts) : gallery::Picture(url, g->w, g->h);
    if (set) facts = "<a href=\"" + url + "\">tile set</a> " + facts;
    s.html += body + "<div class=\"meta\">" + facts + "</div>\n</section>\n";
    return true;
}

void Compare(const BlockSide& a, const BlockSide& b, const kinds::KindRow& row, std::vector<std::string>& diffs) {
    CTile ta, tb;
    const bool la = ta.Load(a.pkg, a.entry->name.c_str(), row.type);
    const bool lb = tb.Load(b.pkg, b.entry->name.c_str(), row.type);
    if (!la || !lb || !ta.GetSurface() || !tb.GetSurface())
        return diffs.push_back(!la || !ta.GetSurface() ? samemeaning::kOriginalFails : samemeaning::kCopyFails);
    CompareTiles(ta, tb, Strictness::Exact, diffs);
}

}  // namespace

const KindSpec kTileKind = {
    kinds::Kind::Tile, "tile_", &kElements, &Counters::til, false, Export, Import, Show, Compare};

}  // namespace orb

bool importstep::ImportTileBlock(ImportSession& s, const std::string& block, const char* type, bool place,
                                 const char* tooLong) {
    std::string blending;
    if (!Text(s, orb::attr::kAlphaBlending, blending)) return false;
    CTile tile;
    if (!orb::CreateTile(s, tile, orb::IsPerPixel(blending.c_str()))) return false;
    if (block.size() > orb::kMaxBlockName) return Fail(s, tooLong);
    if (place && !orb::ReadPlace(s, tile)) return false;
    tile.SetName(block.c_str());
    const auto same = [&] {
        CTile stored;
        std::vector<std::string> diffs;
        if (!stored.Load(s.pkg, block.c_str(), type)) return false;
        orb::CompareTiles(stored, tile, samemeaning::Strictness::Meaning, diffs);
        return diffs.empty();
    };
    if (KeptAsStored(s, type, block, same)) return true;
    return StoreReplacing(s, type, block, [&] { return tile.Save(s.pkg, type); });
}

int exportstep::WriteTileGraphic(ExportSession& s, const std::string& block, const char* type, const char* prefix,
                                 const std::string& stem, Graphic& g) {
    CTile tile;
    if (!tile.Load(s.pkg, block.c_str(), type)) return 0;
    return WriteGraphic(s, prefix, stem, tile.GetSurface(), tile.GetAlpha() == 256, g) ? 1 : -1;
}

int gallery::WriteTilePng(Session& s, const std::string& block, const char* type, const char* prefix,
                          const std::string& stem, std::string& url, int& w, int& h) {
    CTile tile;
    if (!tile.Load(s.pkg, block.c_str(), type)) return 0;
    SDL_Surface* g = tile.GetSurface();
    if (!WritePng(s, prefix, stem, g, url)) return -1;
    w = g->w;
    h = g->h;
    return 1;
}
