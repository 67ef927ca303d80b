// The walk over a VOC file's blocks; the layout and the reasons for each
// refusal are described in VocFile.h. The walk follows SDL_mixer 1.2's
// loader step by step (which rate values it compares, which sample size it
// takes, how it rescales silence) and refuses every file that the loader
// would misread or be harmed by, so that the format found here is the one
// the loader reports for the files it reads correctly.
#include "resources/VocFile.h"

#include <algorithm>
#include <cstring>

#include <SDL.h>

#include "core/ByteReader.h"

namespace vocfile {
namespace {

constexpr size_t kHeaderSize = 26;
constexpr char kSignature[] = "Creative Voice File\x1a";
constexpr size_t kSignatureSize = sizeof kSignature - 1;
// Silence blocks expand: up to 65535 samples from 7 bytes each, which the
// loader allocates as claimed. A file may decode to four times its length
// and 8 MiB more (over six minutes of silence at 22050 Hz); SDL's buffer
// lengths are 32-bit and signed in places.
constexpr uint64_t kSilenceAllowance = uint64_t(8) << 20;
constexpr uint64_t kMaxDecoded = 0x7FFFFFFF;

enum BlockType : uint8_t {
    kEnd = 0,
    kSound = 1,
    kContinuation = 2,
    kSilence = 3,
    kMarker = 4,
    kText = 5,
    kRepeat = 6,
    kRepeatEnd = 7,
    kExtended = 8,
    kNewSound = 9,
};

// The kind of the samples of a sound data block; bytesPerSample 0 before
// the first one.
struct Kind {
    uint32_t frequency = 0;
    uint8_t channels = 0;
    uint8_t bytesPerSample = 0;
    bool operator!=(const Kind& o) const {
        return frequency != o.frequency || channels != o.channels || bytesPerSample != o.bytesPerSample;
    }
};

bool Fail(const char*& why, const char* text) {
    why = text;
    return false;
}

// What the blocks read so far say. The loader compares one rate value
// across the blocks: a rate code, a frequency or a time constant, whichever
// block set it, as they are.
constexpr int64_t kNoRate = -1;
struct Scan {
    int64_t rate = kNoRate;
    bool rateIsCode = false;
    Kind kind;
    bool extended = false;  // an extended block waits for its sound data block
    Kind extendedKind;
};

// What one block gives: samples of a kind (block) and a count of bytes,
// nothing to count, or a fault (why set).
enum class Step { Samples, Skip, Fault };

Step Fault(const char*& why, const char* text) {
    why = text;
    return Step::Fault;
}

Step SoundBlock(ByteReader& body, Scan& v, Kind& block, uint64_t& bytes, const char*& why) {
    uint8_t code = 0, codec = 0;
    // Shorter, the loader's sample count (length - 2) wraps to about 4 GiB.
    if (!body.u8(code) || !body.u8(codec)) return Fault(why, "a VOC sound block is shorter than its header");
    if (codec != 0) return Fault(why, "a VOC sound block holds samples other than 8-bit unsigned");
    if (v.extended) {
        block = v.extendedKind;  // the extended block's rate counts, not this one's
        v.extended = false;
    } else {
        if (code == 0) return Fault(why, "a VOC sample rate code is zero");
        if (v.rate != kNoRate && code != v.rate) return Fault(why, "the VOC blocks' sample rates differ");
        v.rate = code;
        v.rateIsCode = true;
        block = {1000000u / (256u - code), 1, 1};
        // The loader keeps this frequency in 16 bits.
        if (block.frequency > 0xFFFF) return Fault(why, "a VOC sample rate code is above 65535 Hz");
    }
    bytes = body.remaining();
    return Step::Samples;
}

Step NewSoundBlock(ByteReader& body, Scan& v, Kind& block, uint64_t& bytes, const char*& why) {
    uint32_t frequency = 0;
    uint8_t bits = 0, channels = 0;
    uint16_t codec = 0;
    if (!body.u32le(frequency) || !body.u8(bits) || !body.u8(channels) || !body.u16le(codec) || !body.skip(4))
        return Fault(why, "a VOC sound block is shorter than its header");
    // SDL keeps the frequency in an int; the loader takes 0xFFFFFFFF for its
    // "no rate yet".
    if (frequency == 0 || frequency > 0x7FFFFFFF) return Fault(why, "a VOC sample rate is out of range");
    if (v.rate != kNoRate && frequency != v.rate) return Fault(why, "the VOC blocks' sample rates differ");
    v.rate = frequency;
    v.rateIsCode = false;
    // The loader looks at the bits alone: it would read u-law, A-law and
    // ADPCM samples as PCM.
    if (!(bits == 8 && codec == 0) && !(bits == 16 && codec == 4))
        return Fault(why, "a VOC sound block holds samples other than 8-bit unsigned or 16-bit signed");
    if (channels < 1 || channels > 2) return Fault(why, "a VOC sound block has other than 1 or 2 channels");
    block = {frequency, channels, static_cast<uint8_t>(bits / 8)};
    bytes = body.remaining();
    return Step::Samples;
}

// The loader takes its sample size from the first block that brings
// samples, and reads three bytes here whatever the length says.
Step SilenceBlock(ByteReader& body, uint32_t length, const Scan& v, uint64_t& bytes, const char*& why) {
    if (!v.kind.bytesPerSample) return Fault(why, "a VOC silence block comes before any sound data");
    uint16_t period = 0;
    uint8_t code = 0;
    if (length != 3 || !body.u16le(period) || !body.u8(code))
        return Fault(why, "a VOC silence block is not 3 bytes long");
    if (code == 0) return Fault(why, "a VOC sample rate code is zero");
    if (code != v.rate) {
        // Rescaled to the current rate code; against a frequency or a time
        // constant the loader's arithmetic is meaningless (and divides by
        // zero at 256).
        if (!v.rateIsCode) return Fault(why, "a VOC silence block's rate code differs from the sound's rate");
        period = static_cast<uint16_t>(uint32_t(period) * (256u - code) / (256u - uint32_t(v.rate)));
    }
    bytes = period;
    return Step::Samples;
}

Step ExtendedBlock(ByteReader& body, uint32_t length, Scan& v, const char*& why) {
    uint16_t constant = 0;
    uint8_t codec = 0, mode = 0;
    if (length != 4 || !body.u16le(constant) || !body.u8(codec) || !body.u8(mode))
        return Fault(why, "a VOC extended block is not 4 bytes long");
    if (constant == 0) return Fault(why, "a VOC time constant is zero");
    if (v.rate != kNoRate && constant != v.rate) return Fault(why, "the VOC blocks' sample rates differ");
    v.rate = constant;
    v.rateIsCode = false;
    if (codec != 0) return Fault(why, "a VOC extended block describes samples other than 8-bit unsigned");
    // The loader divides the frequency by a channel count that only the
    // stereo mode sets (by zero for a mono block).
    if (mode != 1) return Fault(why, "a VOC extended block is not stereo");
    v.extendedKind = {256000000u / (65536u - constant) / 2, 2, 1};
    v.extended = true;
    return Step::Skip;
}

// One block of a type, its body and length.
Step ReadBlock(uint8_t type, ByteReader& body, uint32_t length, Scan& v, Kind& block, uint64_t& bytes,
               const char*& why) {
    switch (type) {
        case kSound: return SoundBlock(body, v, block, bytes, why);
        case kNewSound: return NewSoundBlock(body, v, block, bytes, why);
        case kContinuation:
            if (!v.kind.bytesPerSample) return Fault(why, "a VOC continuation block comes before any sound data");
            bytes = length;
            return Step::Samples;
        case kSilence: return SilenceBlock(body, length, v, bytes, why);
        case kText:
        case kRepeat:
        case kRepeatEnd: return Step::Skip;
        case kExtended: return ExtendedBlock(body, length, v, why);
        case kMarker:
            // The loader skips two bytes more than the block holds.
            return Fault(why, "a VOC marker block");
        default: return Fault(why, "a VOC block type is unknown");
    }
}

}  // namespace

bool ReadFormat(const uint8_t* d, size_t n, Format& f, const char*& why) {
    why = nullptr;
    if (!d || n < kHeaderSize || std::memcmp(d, kSignature, kSignatureSize) != 0) return Fail(why, "no VOC header");
    const uint16_t first = LoadLE16(d + 20);
    const uint16_t version = LoadLE16(d + 22);
    if (LoadLE16(d + 24) != static_cast<uint16_t>(~version + 0x1234))
        return Fail(why, "the VOC check word does not match its version");
    if (first < kHeaderSize || first > n) return Fail(why, "the first VOC block lies outside the header's reach");
    ByteReader in(d, n);
    in.seek(first);
    Scan v;
    uint64_t total = 0;
    const uint64_t limit = std::min<uint64_t>(uint64_t(n) * 4 + kSilenceAllowance, kMaxDecoded);
    for (;;) {
        uint8_t type = 0;
        if (!in.u8(type)) break;  // the end of the data ends the blocks as an end block does
        if (type == kEnd) {
            // The loader reads one block more after the end block and writes
            // its samples past its buffer: only the end of the data or
            // another end block may follow.
            uint8_t next = 0;
            if (in.u8(next) && next != kEnd) return Fail(why, "VOC blocks follow the end block");
            break;
        }
        uint8_t b[3] = {};
        if (!in.bytes(b, sizeof b)) return Fail(why, "a VOC block header is cut short");
        const uint32_t length = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
        if (length > in.remaining()) return Fail(why, "a VOC block is longer than the data");
        ByteReader body(in.current(), length);
        in.skip(length);
        if (v.extended && type != kSound) return Fail(why, "a VOC extended block is not followed by sound data");
        Kind block;
        uint64_t bytes = 0;
        const Step step = ReadBlock(type, body, length, v, block, bytes, why);
        if (step == Step::Fault) return false;
        if (step == Step::Skip) continue;
        if (type == kSound || type == kNewSound) {
            if (v.kind.bytesPerSample && block != v.kind)
                return Fail(why, "the VOC sound blocks hold samples of different kinds");
            v.kind = block;
        }
        // A block without samples makes the loader write the next block's
        // samples past the end of its buffer.
        if (bytes == 0) return Fail(why, "a VOC block holds no samples");
        if (bytes % (uint64_t(v.kind.bytesPerSample) * v.kind.channels) != 0)
            return Fail(why, "a VOC block holds part of a sample frame");
        total += bytes;
        if (total > limit) return Fail(why, "the VOC silence blocks expand beyond what the file's length allows");
    }
    if (v.extended) return Fail(why, "a VOC extended block is not followed by sound data");
    if (!v.kind.bytesPerSample) return Fail(why, "a VOC file without sound data");
    f.channels = v.kind.channels;
    f.sampleFormat = v.kind.bytesPerSample == 2 ? AUDIO_S16LSB : AUDIO_U8;
    f.frequency = v.kind.frequency;
    f.decodedBytes = total;
    return true;
}

}  // namespace vocfile
