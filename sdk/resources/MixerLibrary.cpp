#include "resources/MixerLibrary.h"

#include <dlfcn.h>

#include <string>

#include "core/Log.h"

namespace mixer {

namespace {

struct Loaded {
    Functions functions;
    bool ok = false;
    std::string why;  // when not ok
};

template <typename T>
bool Find(void* handle, const char* name, T& out, std::string& why) {
    out = reinterpret_cast<T>(::dlsym(handle, name));
    if (!out && why.empty()) why = std::string("it has no function ") + name;
    return out != nullptr;
}

Loaded Load() {
    Loaded l;
    ::dlerror();
    void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = ::dlerror();
        l.why = text ? text : "not found";
    } else {
        Functions& f = l.functions;
        // Every name is looked up; the log names the first one missing.
        const bool found[] = {
            Find(handle, "Mix_LoadAIFF_RW", f.loadAIFF, l.why), Find(handle, "Mix_LoadVOC_RW", f.loadVOC, l.why),
            Find(handle, "Mix_LoadOGG_RW", f.loadOGG, l.why),   Find(handle, "Mix_FreeChunk", f.freeChunk, l.why),
            Find(handle, "Mix_FreeMusic", f.freeMusic, l.why),  Find(handle, "Mix_CloseAudio", f.closeAudio, l.why)};
        l.ok = true;
        for (const bool one : found) l.ok = l.ok && one;
        // The library stays loaded for the process: chunks and music made by
        // it may outlive any one caller.
    }
    if (!l.ok) LogTag("ISoundFX").Error("SDL_mixer (%s) could not be loaded: %s.\n", kLibraryName, l.why.c_str());
    return l;
}

}  // namespace

const Functions* Library() {
    static const Loaded loaded = Load();
    if (loaded.ok) return &loaded.functions;
    SDL_SetError("SDL_mixer (%s) could not be loaded: %s", kLibraryName, loaded.why.c_str());
    return nullptr;
}

}  // namespace mixer
