// Creative Voice (VOC) files, read by a bounded walk of their blocks.
//
// Layout: a header of at least 26 bytes ("Creative Voice File" and 0x1A,
// u16 offset of the first block, u16 version, u16 check word equal to
// ~version + 0x1234), then blocks. Each block is a type byte and, except for
// the end block (type 0), a 24-bit little-endian length and that many bytes:
//   1 sound data: rate code (frequency 1000000 / (256 - code)), codec byte
//     (0: 8-bit unsigned), samples
//   2 continuation: more samples of the kind before
//   3 silence: u16 length in samples, rate code
//   4 marker: u16; 5 text; 6 repeat start; 7 repeat end
//   8 extended: u16 time constant, codec byte, mode byte (1: stereo); it
//     describes the sound data block that follows it
//   9 new sound data: u32 frequency, bits, channels, u16 codec (0: 8-bit
//     unsigned, 4: 16-bit signed), 4 reserved bytes, samples
//
// SDL_mixer 1.2's VOC loader trusts these blocks. A sound data block shorter
// than its own header makes it allocate about 4 GiB; a block without samples
// (or an end block with more blocks behind it) makes it write the next
// block's samples past the end of its buffer; silence blocks make it
// allocate what their length fields claim; a mono extended block makes it
// divide by zero; a marker block makes it skip two bytes too many. The SDK
// therefore never hands that loader a VOC file this walk did not pass: the
// sample format is read here from the blocks, and only files that the loader
// would read as they are meant pass, so that what the SDK calls a decodable
// VOC sound is one SDL_mixer also plays (and decodes, ISoundFX::DecodeToWav).
#pragma once
#include <cstddef>
#include <cstdint>

namespace vocfile {

// What SDL_mixer's loader reports for a VOC file, and the bytes it decodes.
struct Format {
    uint8_t channels = 0;
    uint16_t sampleFormat = 0;  // AUDIO_U8 or AUDIO_S16LSB
    uint32_t frequency = 0;
    uint64_t decodedBytes = 0;  // samples plus expanded silence
};

// True when the bytes are a well-formed VOC file of 8-bit unsigned or 16-bit
// signed samples, f filled as SDL_mixer's loader would report it. Otherwise
// false, with a short reason (a static text) in why.
bool ReadFormat(const uint8_t* data, size_t size, Format& f, const char*& why);

}  // namespace vocfile
