// Shared pieces of the command tests: packages of every kind built through
// the SDK in this process, hand-made 3.0 packages and damaged blocks, and the
// independent JSON parsers (jq, python3) that read the --json reports.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <SDL.h>

#include "TestSupport.h"

namespace cmdtest {

// 32-bit surfaces filled with a pattern: with an alpha channel (per-pixel)
// or without (per-surface).
SDL_Surface* Rgba(int w, int h, uint32_t seed);
SDL_Surface* Rgb(int w, int h, uint32_t seed);

// A package being built in this process; written when closed.
class Package {
public:
    explicit Package(const std::string& path);
    ~Package() { Close(); }
    void Close();
    int id() const { return id_; }

    void Image(const char* name, SDL_Surface* s);  // takes the surface
    void Tile(const char* name, SDL_Surface* s, const char* type = "TILE2", int x = 3, int y = 4, bool tileset = false);
    void Sprite(const char* name);
    void Font(const char* name, int kerning);
    void Sound(const char* name, const std::string& file);
    void Music(const char* name, const std::string& file);
    void Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode);
    // A widget of the given type with its "_n", "_p", "_o" state images
    // (and "_s" for a complex button) stored first, through IButton::Save.
    void Widget(const char* name, uint8_t type);
    // A 1.0 "TILE" block: a 2.0 tile payload without its last 64 bytes.
    void LegacyTile(const char* name, const std::string& scratchDir);
    // A 1.0 "FONT" block: a "FONT2" payload without its last 132 bytes.
    void LegacyFont(const char* name, const std::string& scratchDir);
    void Delete(const char* name, const char* type);

private:
    int id_ = 0;
};

// Every kind a package can hold: images (per-pixel, per-surface with key
// and alpha), tiles (plain, tileset, 1.0), sprite, fonts (2.0, 1.0), sound, music,
// raw files in the three modes, a widget with its state images and one
// deleted entry. Returns the number of live blocks.
int BuildEveryKind(const std::string& path, const std::string& scratchDir);

// A 16-bit mono PCM WAV file of n samples.
std::vector<uint8_t> Wav(int samples);

// A 3.0 package with one live raw block and one deleted one.
std::vector<uint8_t> V3Package();

// Overwrites the packed payload of the first entry with garbage and
// restores a matching checksum, so that the package opens but that block's
// stored data cannot be restored. The first entry must be compressed.
void DamageFirstPayload(const std::string& path);

// Runs jq with a filter over a JSON text: its exit code; out gets its raw
// output (one line per result, trailing line end removed).
int Jq(const std::string& json, const std::string& filter, std::string& out);
// Whether python3's json module parses the text as one JSON document.
bool PythonParses(const std::string& json);

// Runs the executable with TMPDIR set, in dir; as testsupport::RunBundlex.
int RunWithTmpdir(const std::vector<std::string>& args, std::string& out, const std::string& dir,
                  const std::string& tmpdir);

// Runs a shell command: its exit code; out gets its standard output.
int Shell(const std::string& command, std::string& out);

std::string SourceDir();
// The file names in a directory, sorted.
std::vector<std::string> Listing(const std::string& dir);

}  // namespace cmdtest
