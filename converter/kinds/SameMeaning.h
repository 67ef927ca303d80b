// The comparison of two resources of one kind, as the list of their
// differences in words: --check and --diff print it, and an update keeps a
// stored block as it is when the list against the resource about to be
// stored is empty (the same picture: size, colours, alpha, colour key; and
// the same properties), whatever byte layout the payload file gave the new
// one (a BMP reads back blue first and in 24 bits, a PNG red first), so that
// an untouched export brings nothing back as "replaced".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <SDL.h>

#include "KindTable.h"

namespace samemeaning {

// Exact: what a round trip must keep, blending as the resource records it
// and alpha wherever a surface carries it. Meaning: what an update must
// keep, blending as the surfaces carry it (a per-surface alpha, whether a
// colour key is set and the key's colour), every pixel the same colour,
// keyed or not alike, with the same alpha where the blending is per pixel,
// and every property of the resource.
enum class Strictness { Exact, Meaning };

// "0x" and eight hex digits; "what a became b"; a number in decimal.
std::string Hex(uint32_t v);
std::string Became(const char* what, long long a, long long b);
std::string Num(long long v);

// What every graphic resource has: its surface and how it blends.
struct Look {
    SDL_Surface* surface;
    int alpha;     // the recorded alpha: 256 per pixel, else per surface
    uint32_t key;  // the recorded colour key
};
template <class Resource>
Look LookOf(Resource& r) {
    return {r.GetSurface(), r.GetAlpha(), r.GetColorKey()};
}

void CompareImages(SDL_Surface* a, SDL_Surface* b, Strictness how, std::vector<std::string>& diffs);
// Exact: as the resources record their blending; Meaning: their recorded
// alpha and the blending their surfaces carry.
void CompareLooks(const Look& a, const Look& b, Strictness how, std::vector<std::string>& diffs);
void CompareBytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, std::vector<std::string>& diffs);

// What a kind's comparison says for a side that does not load (CompareBlocks
// puts its caller's words in their place).
extern const char* const kOriginalFails;
extern const char* const kCopyFails;

// The differences of two blocks of one name and type, one line each, through
// the comparison of their kind (a type no class owns: its bytes and storage
// mode); aFails and bFails are the lines for a side that does not load.
void CompareBlocks(int pkgA, const kinds::Entry& a, int pkgB, const kinds::Entry& b, const char* aFails,
                   const char* bFails, std::vector<std::string>& diffs);
// The comparison of kinds that keep the user's bytes (sound, music, raw
// files): the bytes, and for raw files their storage mode.
void CompareStored(const orb::BlockSide& a, const orb::BlockSide& b, const kinds::KindRow& row,
                   std::vector<std::string>& diffs);
// A sound, music or raw block that holds these bytes of a payload file,
// whatever storage mode it was given (music is scrambled or compressed by
// its file name's last letter, which an export's name may not share).
bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace samemeaning
