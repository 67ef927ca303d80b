// Owners for what the SDK hands the converter: a surface, freed with
// SDL_FreeSurface, and a block payload from LoadBlock (the SDK's
// BlockPayload), released with FreeBlock; both on every path.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <SDL.h>

#include "package/BlockPayload.h"

struct SurfaceFree {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

struct Payload : BlockPayload {
    // LoadBlock; an empty block (expected size 0) loads with no data.
    bool Load(int pkg, const std::string& type, const std::string& name, uint32_t expected) {
        const int r = BlockPayload::Load(pkg, type.c_str(), name.c_str());
        return (r > 0 && info.data) || (r == 0 && expected == 0);
    }
};
