// The sound and music interface: "SND" and "MUS" blocks. One instance exists
// (g_pSoundFX). A block holds the bytes of the original audio file
// unchanged; the information operations identify the format and, for
// sampled formats, decode the data once to report its sample format (VOC
// files are read by the SDK's own walk of their blocks, see VocFile.h).
// Identify names the format from the first bytes alone, for blocks that do
// not decode but are still the user's file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <SDL.h>
#include <SDL_mixer.h>

// Filled by SoundInfo and MusicInfo (16 bytes in the original layout).
struct AudioInfo {
    char format[5];         // "WAV", "AIFF", "VOC", "OGG"; for music "OGG", "IT", "XM", "S3M", "MOD"
    uint8_t channels;       // 0 for tracker modules
    uint16_t sampleFormat;  // SDL audio format code; 0 for tracker modules
    uint32_t frequency;     // 0 for tracker modules
    uint32_t size;          // bytes of the block payload or of the file
};

// One loaded music piece of the playback side.
struct MusicEntry {
    uint16_t inUse = 0;
    uint8_t source = 0;  // 0: only the music object; 1: also a memory buffer and a stream over it
    uint8_t loaded = 0;  // source 1: 1 while the music object exists
    Mix_Music* music = nullptr;
    SDL_RWops* stream = nullptr;
    void* buffer = nullptr;  // source 1: the memory under the stream (SDL_malloc'd), freed with it
};

class ISoundFX {
public:
    static constexpr int kSoundSlots = 256;
    static constexpr int kMusicSlots = 32;

    ISoundFX();
    ~ISoundFX();
    ISoundFX(const ISoundFX&) = delete;
    ISoundFX& operator=(const ISoundFX&) = delete;

    // Store an audio file as a block: AddData's result, -1 when the block
    // exists, 0 on failure.
    int SoundImport(int id, const char* name, const char* file);
    int MusicImport(int id, const char* name, const char* file);
    // The same from the bytes of the file, read already by the caller; file
    // is its name, which chooses a music piece's storage mode.
    int ImportData(int id, const char* name, const char* file, const std::vector<uint8_t>& bytes, bool isMusic);
    // Writes a block back out as a file; true when the file was written
    // completely. Without an output name the file is name + "." + format in
    // the current directory (path separators in the block name replaced).
    bool Export(int id, const char* name, uint8_t music, const char* output);
    // With id 0, name is a file name.
    bool SoundInfo(int id, const char* name, AudioInfo* info);
    bool MusicInfo(int id, const char* name, AudioInfo* info);
    // The block's format from its first bytes alone (FormatOfHead; "" for a
    // sound whose bytes name no format) and its size; channels, sample
    // format and frequency 0. Nothing is decoded: a WAV of u-law samples is
    // "WAV" here while SoundInfo refuses it. False only when the block does
    // not load.
    bool Identify(int id, const char* name, uint8_t music, AudioInfo* info);
    // The format that the first bytes of audio data name, without decoding:
    // for sounds "WAV" ("RIFF" or "WAVE" at 0), "AIFF" ("FORM"), "OGG"
    // ("OggS"), "VOC" ("Crea"), or null; for music "OGG", then "IT" ("IMPM"),
    // "XM" ("Extended Module"), "S3M" ("SCRM" at 44), anything else "MOD".
    static const char* FormatOfHead(const uint8_t* data, size_t size, uint8_t music);
    // What audio data is, in a few words, from its head alone: "a WAV file
    // of u-law samples", "an AIFF-C file ('fl32' compression)", "an Ogg
    // stream", "data in no audio format the SDK knows". For a sound or a
    // music piece that the SDK does not decode, to tell the user what it is.
    static std::string Describe(const uint8_t* data, size_t size, uint8_t music);
    // The sound block `name` as a PCM WAV file, for players that read no
    // AIFF or VOC: an AIFF or VOC sound decoded to its samples (8-bit
    // unsigned or 16-bit little-endian) behind a 44-byte RIFF header. False,
    // wav empty, for any other format, a block that does not load or data
    // that does not decode.
    bool DecodeToWav(int id, const char* name, std::vector<uint8_t>& wav);
    // The container of music data: "MIDI" for a Standard MIDI File ("MThd"),
    // otherwise FormatOfHead's name. FormatOfHead keeps calling MIDI "MOD",
    // as the playback side has always read it.
    static const char* MusicContainer(const uint8_t* data, size_t size);
    // The title that music data names in its head, by its MusicContainer:
    // a tracker module's title field ("IT", "XM", "S3M", "MOD"), or the text
    // of a MIDI file's first track name event at the start of its first
    // track; printable bytes up to the first NUL, other bytes as "?",
    // trailing blanks dropped. "" when there is none or the head is short.
    static std::string MusicTitleOfHead(const uint8_t* data, size_t size);
    // MusicContainer and MusicTitleOfHead of the music block `name`; false
    // when it does not load.
    bool MusicTitle(int id, const char* name, std::string& title, std::string& container);
    // Frees every sound (kind non-zero, index 0..255) or music piece (kind 0,
    // index 0..31) in the process-wide tables; other indices do nothing.
    void Free(int index, int kind);

    // The process-wide tables that the playback side fills.
    static Mix_Chunk* sounds[kSoundSlots];
    static MusicEntry music[kMusicSlots];

    // Set by the playback side while it has the mixer open.
    uint32_t mixerOpen = 0;

private:
    int Import(int id, const char* name, const char* file, bool isMusic);
};

// The sound interface between Init and Quit; empty before and after.
extern ISoundFX* g_pSoundFX;

// SDL_mixer 1.2 exports these loaders without declaring them in its header
// (the VOC loader is not called by the SDK; tests compare it with the
// SDK's own VOC walk). Each decodes a whole stream into a buffer freed with SDL_FreeWAV and, with
// freesrc non-zero, closes the stream whether or not it succeeded.
extern "C" {
SDL_AudioSpec* Mix_LoadAIFF_RW(SDL_RWops* src, int freesrc, SDL_AudioSpec* spec, Uint8** audio_buf, Uint32* audio_len);
SDL_AudioSpec* Mix_LoadVOC_RW(SDL_RWops* src, int freesrc, SDL_AudioSpec* spec, Uint8** audio_buf, Uint32* audio_len);
SDL_AudioSpec* Mix_LoadOGG_RW(SDL_RWops* src, int freesrc, SDL_AudioSpec* spec, Uint8** audio_buf, Uint32* audio_len);
}
