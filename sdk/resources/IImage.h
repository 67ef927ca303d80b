// The image interface: turns "IMG" blocks, BMP files and PNG files into
// SDL surfaces and back. One instance exists (g_pImage). Every surface it
// returns belongs to the caller, who frees it with SDL_FreeSurface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include <SDL.h>

struct PixelFormatRecord;

struct ImageInfo {
    uint32_t width;
    uint32_t height;
    uint8_t bpp;
    uint32_t alpha;
    uint32_t colorkey;  // 0xFFFFFFFF: none
    char name[32];
};

class IImage {
public:
    IImage();
    ~IImage();
    IImage(const IImage&) = delete;
    IImage& operator=(const IImage&) = delete;

    SDL_Surface* Load(int id, const char* name, ImageInfo* info = nullptr);
    // Decodes an "IMG" payload to a new surface (the caller frees it) with
    // the stored pixels and palette; colour key and alpha are left to the
    // caller, who gets the stored record in format. Every size is checked
    // against `size`. Null on any fault, with a reason for the log when the
    // payload is damaged (none when SDL refused the surface). Shared by Load
    // and the fuzz targets.
    static SDL_Surface* DecodePayload(const uint8_t* data, size_t size, PixelFormatRecord* format = nullptr,
                                      const char** reason = nullptr);
    int Save(int id, const char* name, SDL_Surface* surface);
    SDL_Surface* LoadBMP(const char* file);
    // transparencyAsAlpha: see ReadPNG.
    SDL_Surface* LoadPNG(const char* file, bool transparencyAsAlpha = false);
    // The same over the bytes of a file read already (a caller that opened
    // the file itself, once).
    SDL_Surface* LoadBMP(const std::vector<uint8_t>& bytes);
    SDL_Surface* LoadPNG(const std::vector<uint8_t>& bytes, bool transparencyAsAlpha = false);
    int SaveBMP(const char* file, SDL_Surface* surface);
    // level: 0 stored, 1 to 9 zlib's levels, kQuickLevel the cheapest
    // encoding that still compresses (for files written in bulk to be
    // viewed), any other negative value zlib's default.
    static constexpr int kQuickLevel = -2;
    int SavePNG(const char* file, SDL_Surface* surface, int level);
    int IsBMP(const char* file);
    int IsPNG(const char* file);

    // Reads a PNG from the stream's position. Without transparencyAsAlpha a
    // tRNS that is one transparent palette entry, or a grey or RGB key
    // colour, becomes the surface's colour key (which LoadPNG drops), any
    // other an alpha channel. With it, every tRNS that makes a pixel
    // anything but opaque gives a 32-bit surface with an alpha channel, so
    // that no transparency is lost; a palette tRNS of opaque entries only
    // changes nothing. The stream is left open; on failure it is put back
    // where it was.
    SDL_Surface* ReadPNG(SDL_RWops* stream, bool transparencyAsAlpha = false);
    // Reads a BMP from the stream's position to its end (the stream is left
    // open): every header form whose palette and pixels this program reads
    // right (12-byte core, 40 to 124-byte Windows and 64-byte OS/2 headers;
    // 1, 4, 8, 16, 24 and 32 bits; 8 and 4-bit run-length coding). Null otherwise,
    // with why (when given) saying what is wrong.
    SDL_Surface* ReadBMP(SDL_RWops* stream, const char** why = nullptr);
    int WritePNG(SDL_RWops* stream, SDL_Surface* surface, int level);
    // SaveBMP onto a stream (left open): 1 when written, 0 on failure.
    int WriteBMP(SDL_RWops* stream, SDL_Surface* surface);

    // The surface as the game draws it over whatever lies below, for a
    // viewer that composes it itself: a new 32-bit surface with the bytes R,
    // G, B, A in memory order (the caller frees it). A surface that blends
    // with its alpha channel keeps its per-pixel alpha (SDL then ignores the
    // colour key and the per-surface alpha); otherwise a pixel of the colour
    // key is transparent and every other pixel carries the per-surface alpha
    // (opaque without one). Null for a null surface or when SDL refuses.
    static SDL_Surface* AsDrawn(SDL_Surface* s);

    // Display preparation, shared by every loader of graphic resources
    // (images, tiles, sprites, fonts).
    //
    // Takes ownership of s and returns the surface the caller keeps from now
    // on: s itself, or its display-format copy (s is then freed). Returns
    // null only when s is null; a failed or impossible conversion keeps s.
    //  1. Conversion test (NeedsDisplayConversion): only when a screen
    //     surface exists. When it says so and, if switchApplies, the
    //     automatic display conversion switch is on, and allowConversion is
    //     true: alphaChannel surfaces go through SDL_DisplayFormatAlpha (the
    //     copy's format alpha set to 255), others through SDL_DisplayFormat.
    //     *converted (when given) tells whether this happened. Without a
    //     video mode in SDL (SDL_GetVideoSurface null) nothing is converted.
    //  2. OpenGL upload: when OpenGL mode is on (and, if switchApplies, the
    //     switch is on) the surface is offered to the upload; an accepted
    //     upload raises the uploaded texture count.
    // In this program there is no screen and no OpenGL mode, so s comes back
    // untouched. Colour key and alpha settings are the caller's business.
    SDL_Surface* PrepareForDisplay(SDL_Surface* s, bool alphaChannel, bool switchApplies, bool allowConversion = true,
                                   bool* converted = nullptr);
    // Whether s differs from the screen surface (hardware flag, bytes per
    // pixel or any mask). False without a screen surface or for a null s.
    static bool NeedsDisplayConversion(const SDL_Surface* s);
    // The surface convention for an alpha channel: SDL_SRCALPHA with format
    // alpha 255.
    static bool HasAlphaChannel(const SDL_Surface* s);

private:
    // The last steps of LoadBMP and LoadPNG on a decoded surface.
    SDL_Surface* BmpForCaller(SDL_Surface* s);
    SDL_Surface* PngForCaller(SDL_Surface* s);
};

// The image interface between Init and Quit; empty before and after.
extern IImage* g_pImage;
