// Image and sound files (PNG, BMP, WAV, AIFF, VOC, Ogg and the tracker
// headers): the bytes as a file through IImage's tests and loaders, as a
// memory stream through ReadPNG, and as a file through ISoundFX's sound and
// music identification, which decodes sampled data once.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <SDL.h>

#include "FuzzSupport.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    const std::string path = fuzzsupport::WriteScratch("media.bin", data, size);
    const char* file = path.c_str();

    g_pImage->IsPNG(file);
    g_pImage->IsBMP(file);
    if (SDL_Surface* s = g_pImage->LoadPNG(file)) SDL_FreeSurface(s);
    if (SDL_Surface* s = g_pImage->LoadBMP(file)) SDL_FreeSurface(s);
    if (SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size))) {
        if (SDL_Surface* s = g_pImage->ReadPNG(rw)) SDL_FreeSurface(s);
        SDL_RWclose(rw);
    }

    AudioInfo info{};
    g_pSoundFX->SoundInfo(0, file, &info);
    // Music identification decodes Ogg the same way as SoundInfo did.
    if (size < 4 || std::memcmp(data, "OggS", 4) != 0) g_pSoundFX->MusicInfo(0, file, &info);

    std::remove(file);
    return 0;
}
