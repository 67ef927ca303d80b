// The walk shared by the package targets: open a package file, list its
// entries with FindFirst/FindNext, count them, and load every block through
// LoadBlock and through the resource class of its type, as the exporter and
// the list and verify commands do. Loading a 1.0 block ("TILE", "SPR",
// "FONT", ...) upgrades it inside the package, so the walk also runs AddData,
// Delete and the header rewrite of Close.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace fuzzsupport {

// Upper bound of entries a walk looks at. A package's entries are at least
// 80 bytes each, so an input of the fuzzer's sizes never reaches it; it only
// keeps a damaged cursor from looping for ever.
constexpr int kMaxWalkSteps = 4096;

inline void LoadThroughClass(int id, const std::string& type, const std::string& name) {
    const char* n = name.c_str();
    if (type == "IMG") {
        ImageInfo info{};
        if (SDL_Surface* s = g_pImage->Load(id, n, &info)) SDL_FreeSurface(s);
    } else if (type.compare(0, 4, "TILE") == 0 || type.compare(0, 4, "TILB") == 0) {
        CTile tile;
        tile.Load(id, n, type.compare(0, 4, "TILE") == 0 ? "TILE2" : "TILB2");
    } else if (type == "SPR2" || type == "SPR") {
        CSprite sprite;
        sprite.Load(id, n, "SPR2");
    } else if (type == "FONT2" || type == "FONT") {
        CFont font;
        font.Load(id, n);
    } else if (type == "BUT") {
        BlockInfo info{};
        if (g_pStuffVLT->LoadBlock(id, "BUT", n, &info) > 0 && info.data) {
            ButtonRecord r;
            IButton::DecodePayload(info.data, info.size, r);
        }
        g_pStuffVLT->FreeBlock(&info);
    } else if (type == "SND") {
        AudioInfo a{};
        g_pSoundFX->SoundInfo(id, n, &a);
    } else if (type == "MUS") {
        AudioInfo a{};
        g_pSoundFX->MusicInfo(id, n, &a);
    }
}

// Opens the package at path, walks, counts and loads it, and closes it.
inline void WalkPackage(const std::string& path) {
    const int id = g_pStuffVLT->Open(path.c_str());
    if (id < 1) return;
    std::vector<std::pair<std::string, std::string>> blocks;  // type, name
    BlockInfo info{};
    int r = g_pStuffVLT->FindFirst(id, &info);
    for (int steps = 0; r == 1 && steps < kMaxWalkSteps; ++steps) {
        blocks.emplace_back(std::string(info.type, strnlen(info.type, sizeof info.type)),
                            std::string(info.name, strnlen(info.name, sizeof info.name)));
        r = g_pStuffVLT->FindNext(id, &info);
    }
    g_pStuffVLT->Count(id);
    g_pStuffVLT->CountDeleted(id);
    g_pStuffVLT->GetName(id);
    for (const auto& b : blocks) {
        if (b.first == "DELETED") continue;
        BlockInfo loaded{};
        g_pStuffVLT->LoadBlock(id, b.first.c_str(), b.second.c_str(), &loaded);
        g_pStuffVLT->FreeBlock(&loaded);
        LoadThroughClass(id, b.first, b.second);
    }
    // After the upgrades of old blocks: the walk and the count over the
    // appended entries.
    g_pStuffVLT->Count(id);
    g_pStuffVLT->Close(id);
}

// The package targets take the header block in plain form, so that the
// fuzzer can change its fields (the protected flag above all); the target
// enciphers it with the internal key before writing the file. When bit 0 of
// the reserved byte at offset 94 of the plain header is clear (as in every
// seed), the checksum field is first set to the CRC-32 of everything after
// the header, so that most inputs get past the checksum test of Open and
// the others test it.
inline std::vector<uint8_t> SealPackage(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    if (size < vlt::kFirstEntry) return file;
    uint8_t* header = file.data() + vlt::kHeadSize;
    if ((header[94] & 1) == 0) {
        const uint64_t rest = size - vlt::kFirstEntry;
        const uint32_t crc = Trovalis.CRC32(file.data() + vlt::kFirstEntry, static_cast<int32_t>(rest));
        StoreLE32(header + vlt::kChecksumOffset, crc);
    }
    static PackageCipher internal, unused;
    static const bool keyed = PackageCipher::KeyWithInternalKey(internal, unused);
    if (keyed) internal.Encipher(header, vlt::kHeaderSize);
    return file;
}

}  // namespace fuzzsupport
