// SDL_mixer, loaded the first time a sound or music operation needs it.
//
// Only a few of SDL_mixer's functions are used (decoding AIFF, VOC and Ogg
// data to identify it, freeing chunks and music, closing the audio device),
// and the library brings dozens of others along (synthesisers, sound
// servers, codecs). Loading it at start-up cost every run of a program the
// time to map all of them, even one that never touches a sound; it is
// opened here by its runtime name instead, once per process, and stays
// loaded until the process ends. A program that links SDL_mixer itself
// gets the same library, already loaded.
#pragma once
#include <SDL.h>
#include <SDL_mixer.h>

namespace mixer {

// The runtime name of the library opened.
constexpr const char* kLibraryName = "libSDL_mixer-1.2.so.0";

// The functions used, with SDL_mixer's signatures.
struct Functions {
    using WaveLoader = SDL_AudioSpec* (*)(SDL_RWops*, int, SDL_AudioSpec*, Uint8**, Uint32*);
    WaveLoader loadAIFF = nullptr;
    WaveLoader loadVOC = nullptr;
    WaveLoader loadOGG = nullptr;
    void (*freeChunk)(Mix_Chunk*) = nullptr;
    void (*freeMusic)(Mix_Music*) = nullptr;
    void (*closeAudio)() = nullptr;
};

// The loaded functions, every one of them present; null when the library
// or one of them could not be found: that is logged once, with the loader's
// own words, and set as SDL's error text for every call that asks again.
// Safe to call from any thread.
const Functions* Library();

}  // namespace mixer
