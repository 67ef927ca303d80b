// Whether a resource about to be stored means what the block of its name
// and type in the package means already: the same picture (size, colours,
// alpha, colour key) and the same properties. An update keeps such a block
// as it is, whatever byte layout the payload file gave the new one (a BMP
// reads back blue first and in 24 bits, a PNG red first), so that an
// untouched export brings nothing back as "replaced".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <SDL.h>

class CTile;
class CSprite;
class CFont;

namespace samemeaning {

// Same size, the same blending (per-pixel alpha, or the per-surface alpha
// and whether a colour key is set, with the key's colour), and every pixel
// the same colour, keyed or not alike, and with the same alpha where the
// surfaces carry one.
bool SameLook(SDL_Surface* a, SDL_Surface* b);

// The stored block of package pkg against the fresh resource; false when
// there is no such block or it does not load.
bool SameImage(int pkg, const std::string& name, SDL_Surface* fresh);
bool SameTile(int pkg, const char* type, const std::string& name, const CTile& fresh);
bool SameSprite(int pkg, const std::string& name, CSprite& fresh);
bool SameFont(int pkg, const std::string& name, const CFont& fresh);
// A sound, music or raw block that holds these bytes of a payload file,
// whatever storage mode it was given (music is scrambled or compressed by
// its file name's last letter, which an export's name may not share).
bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace samemeaning
