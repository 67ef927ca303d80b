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

class CTile;
class CSprite;
class CFont;

namespace samemeaning {

// Exact: what a round trip must keep, blending as the resource records it
// and alpha wherever a surface carries it. Meaning: what an update must
// keep, blending as the surfaces carry it (a per-surface alpha, whether a
// colour key is set and the key's colour), every pixel the same colour,
// keyed or not alike, with the same alpha where the blending is per pixel,
// and every property of the resource.
enum class Strictness { Exact, Meaning };

// "0x" and eight hex digits; "what a became b".
std::string Hex(uint32_t v);
std::string Became(const char* what, long long a, long long b);

void CompareImages(SDL_Surface* a, SDL_Surface* b, Strictness how, std::vector<std::string>& diffs);
void CompareTiles(const CTile& a, const CTile& b, Strictness how, std::vector<std::string>& diffs);
void CompareSprites(CSprite& a, CSprite& b, Strictness how, std::vector<std::string>& diffs);
void CompareFonts(const CFont& a, const CFont& b, Strictness how, std::vector<std::string>& diffs);
void CompareBytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, std::vector<std::string>& diffs);

// The stored block of package pkg against the fresh resource, compared for
// their meaning; false when there is no such block or it does not load.
bool SameImage(int pkg, const std::string& name, SDL_Surface* fresh);
bool SameTile(int pkg, const char* type, const std::string& name, const CTile& fresh);
bool SameSprite(int pkg, const std::string& name, CSprite& fresh);
bool SameFont(int pkg, const std::string& name, const CFont& fresh);
// A sound, music or raw block that holds these bytes of a payload file,
// whatever storage mode it was given (music is scrambled or compressed by
// its file name's last letter, which an export's name may not share).
bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace samemeaning
