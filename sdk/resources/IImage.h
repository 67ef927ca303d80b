// The image interface: turns "IMG" blocks, BMP files and PNG files into
// SDL surfaces and back. One instance exists (g_pImage). Every surface it
// returns belongs to the caller, who frees it with SDL_FreeSurface.
#pragma once
#include <cstdint>

#include <SDL.h>

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
    int Save(int id, const char* name, SDL_Surface* surface);
    SDL_Surface* LoadBMP(const char* file);
    SDL_Surface* LoadPNG(const char* file);
    int SaveBMP(const char* file, SDL_Surface* surface);
    int SavePNG(const char* file, SDL_Surface* surface, int level);
    int IsBMP(const char* file);
    int IsPNG(const char* file);

    SDL_Surface* ReadPNG(SDL_RWops* stream);
    int WritePNG(SDL_RWops* stream, SDL_Surface* surface, int level);
};
