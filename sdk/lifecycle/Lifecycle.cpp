// Init and Quit: the one place that creates and destroys every global
// interface object, so it sits above the package container and the resource
// kinds and includes them. It is the library trovalis, built over the three
// layers; nothing in them includes or calls it.
#include <SDL.h>
#include <ucl/ucl.h>

#include "core/Log.h"
#include "core/RuntimeServices.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

namespace {
template <typename T>
void Destroy(T*& p) {
    delete p;
    p = nullptr;
}
}  // namespace

int TrovalisCore::Init(uint32_t flags) {
    // A second Init without Quit would create every interface afresh over the
    // live ones, losing open packages and their unwritten headers: it is
    // refused instead, and the running SDK is left as it is.
    const LogTag tag("Trovalis.Init()");
    if (initialized_) {
        tag.Warning("Trovalis is already initialized.\n");
        return 1;
    }
    if (!GetCPUFeatures()) return -1;
    if (SDL_Init(flags) < 0) {
        tag.Error("Couldn't initialize SDL 1.2: %s\n", SDL_GetError());
        return -1;
    }
    g_pStuffVLT = new IStuffVLT();
    g_pImage = new IImage();
    g_pCursor = new ICursor();
    g_pPrimitives = new IPrimitives();
    g_pButton = new IButton();
    g_pScreenFX = new IScreenFX();
    g_pTimeSystem = new ITimeSystem();
    g_pNetwork = new INetwork();
    g_pVideo = new IVideo();
    g_pSoundFX = new ISoundFX();
    if (ucl_init() != UCL_E_OK) tag.Error("UCL failed to initiate\n");
    startTick = SDL_GetTicks();
    initialized_ = 1;
    LOG_PRINT(0, "\n . Trovalis successfully initiated.\n");
    return 1;
}

void TrovalisCore::Quit() {
    if (!initialized_) return;
    // Reverse order of creation; the package manager, which closes packages
    // left open, goes last.
    Destroy(g_pSoundFX);
    Destroy(g_pVideo);
    Destroy(g_pNetwork);
    Destroy(g_pTimeSystem);
    Destroy(g_pScreenFX);
    Destroy(g_pButton);
    Destroy(g_pPrimitives);
    Destroy(g_pCursor);
    Destroy(g_pImage);
    Destroy(g_pStuffVLT);
    if (coreSurface) {
        SDL_FreeSurface(coreSurface);
        coreSurface = nullptr;
    }
    SDL_Quit();
    if (liveTiles)
        LOG_PRINT(2, "\n . [CTiles] Warning! your application have left %d tiles without deleting.", liveTiles);
    if (liveSprites)
        LOG_PRINT(2, "\n . [CSprites] Warning! your application have left %d sprites without deleting.", liveSprites);
    if (liveFonts)
        LOG_PRINT(2, "\n . [CFonts] Warning! your application have left %d fonts without deleting.", liveFonts);
    LOG_PRINT(0, "\n . Trovalis successfully closed.\n\n");
    initialized_ = 0;
}
