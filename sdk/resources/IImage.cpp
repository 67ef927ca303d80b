#include "resources/IImage.h"

#include "core/Log.h"
#include "core/Trovalis.h"

IImage::IImage() { LOG_PRINT(5, " . [IImage] Interfaz created.\n"); }
IImage::~IImage() { LOG_PRINT(5, " . [IImage] Interfaz deleted.\n"); }

bool IImage::HasAlphaChannel(const SDL_Surface* s) {
    return s && s->format && (s->flags & SDL_SRCALPHA) && s->format->alpha == 255;
}

bool IImage::NeedsDisplayConversion(const SDL_Surface* s) {
    const SDL_Surface* screen = Trovalis.screen;
    if (!s || !screen || !s->format || !screen->format) return false;
    if ((screen->flags & SDL_HWSURFACE) && !(s->flags & SDL_HWSURFACE)) return true;
    const SDL_PixelFormat* a = s->format;
    const SDL_PixelFormat* b = screen->format;
    return a->BytesPerPixel != b->BytesPerPixel || a->Rmask != b->Rmask || a->Gmask != b->Gmask ||
           a->Bmask != b->Bmask || a->Amask != b->Amask;
}

SDL_Surface* IImage::PrepareForDisplay(SDL_Surface* s, bool alphaChannel, bool switchApplies,
                                       bool allowConversion, bool* converted) {
    if (converted) *converted = false;
    if (!s) return nullptr;
    const bool switchOn = !switchApplies || Trovalis.autoDisplayConversion != 0;
    if (allowConversion && switchOn && NeedsDisplayConversion(s)) {
        SDL_Surface* c = alphaChannel ? SDL_DisplayFormatAlpha(s) : SDL_DisplayFormat(s);
        if (c) {
            if (alphaChannel) c->format->alpha = 255;
            SDL_FreeSurface(s);
            s = c;
            if (converted) *converted = true;
        }
    }
    if (switchOn && Trovalis.OpenGLMode() && Trovalis.UploadTexture(s)) ++Trovalis.uploadedTextures;
    return s;
}
