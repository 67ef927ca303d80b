// The bytes of a version 4.0 package file.
//
//   offset 0    4    "VLTv"
//   offset 4    4    "4.0" and a NUL
//   offset 8    512  header block, always enciphered with the internal key
//   offset 520  ...  block entries, one after the other
//
// Header block (deciphered): 0 creator (29, NUL-terminated), 29 creation date
// (32), 61 modification date (32), 93 protected flag (1), 94 reserved (2),
// 96 checksum (LE32, CRC-32 of every byte from offset 520 to the end),
// 100 filler (410 bytes of rand() % 255; with a source date, see
// core/SourceDate.h, drawn from the checksum instead), 510 reserved (2).
//
// Block entry: the 16-byte marker (never enciphered), the 64-byte descriptor
// and the payload padded with zeros to a multiple of 8 (both enciphered with
// the package key in a protected package).
//
// Descriptor (deciphered): 0 name (32), 32 type (8), 40 mode (1), 41 padding
// (3), 44 size (LE32), 48 packed size (LE32), 52 reserved (12).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

class PackageCipher;

namespace vlt {

constexpr size_t kHeadSize = 8;
constexpr size_t kHeaderSize = 512;
constexpr uint64_t kFirstEntry = kHeadSize + kHeaderSize;  // 520
constexpr size_t kMarkerSize = 16;
constexpr size_t kDescriptorSize = 64;
constexpr size_t kEntryHeadSize = kMarkerSize + kDescriptorSize;  // 80
extern const uint8_t kMarker[kMarkerSize];
constexpr uint8_t kHead4[kHeadSize] = {'V', 'L', 'T', 'v', '4', '.', '0', 0};

// Header block fields.
constexpr size_t kCreatorOffset = 0;
constexpr size_t kCreatorSize = 29;
constexpr size_t kCreatedOffset = 29;
constexpr size_t kModifiedOffset = 61;
constexpr size_t kDateSize = 32;
constexpr size_t kProtectedOffset = 93;
constexpr size_t kChecksumOffset = 96;
constexpr size_t kFillerOffset = 100;
constexpr size_t kFillerSize = 410;

// Descriptor fields.
constexpr size_t kNameOffset = 0;
constexpr size_t kNameSize = 32;
constexpr size_t kTypeOffset = 32;
constexpr size_t kTypeSize = 8;
constexpr size_t kModeOffset = 40;
constexpr size_t kSizeOffset = 44;
constexpr size_t kPackedOffset = 48;

// The largest size a compressed block may claim. Far above any real resource;
// it bounds the buffer a damaged or hostile descriptor can make us allocate.
constexpr uint32_t kMaxUnpackedSize = 1u << 30;  // 1 GiB

// How much larger than its packed bytes a compressed block may claim to be.
// NRV2B codes a match of UCL's longest length (2048 bytes) in no fewer than
// 25 bits, so no stream of the compressor grows more than about 656 times
// (measured: 64 MiB of zeros pack to 102,409 bytes). A descriptor claiming
// more is damaged; the bound keeps what it can make us allocate a multiple
// of what the file holds.
constexpr uint64_t kMaxCompressionRatio = 1024;

// The largest unpacked size a compressed block of `packed` bytes may claim.
inline uint64_t MaxUnpackedSize(uint64_t packed) {
    const uint64_t bound = packed * kMaxCompressionRatio;
    return bound < kMaxUnpackedSize ? bound : kMaxUnpackedSize;
}

inline uint64_t PaddedLength(uint64_t packed) { return (packed + 7) & ~uint64_t(7); }

// The current local time as asctime gives it, without the line end, in a
// zeroed field of kDateSize bytes; with a source date, that date in UTC.
void CurrentDate(uint8_t* field);

// Fills a header block of a new package: creator, both dates, protected
// flag 0, checksum 0, filler after srand(SDL_GetTicks()) (with a source
// date: FillFiller for no entries), reserved zero. creator and created may
// be null: the maker line and the current time.
void BuildHeader(uint8_t header[kHeaderSize], const char* creator, const char* created);

// The filler drawn from the checksum of the entries, the same everywhere.
void FillFiller(uint8_t header[kHeaderSize], uint32_t crc);

// The fields a deciphered header block gets when its package was modified:
// the modification date and the checksum crc of the entries, and with a
// source date the filler of that checksum.
void SealHeader(uint8_t header[kHeaderSize], uint32_t crc);

// CRC-32 of length bytes read from the current position, read in pieces so
// that a large package needs no buffer of its size. False on a read error or
// when fewer bytes come (errno is then set, 0 meaning "file ends early").
bool ChecksumFromHere(int fd, uint64_t length, uint32_t& crc);

// The header rewrite of a modified package: reads the header block,
// deciphers it, sets the modification date and the checksum of bytes 520 to
// the end, enciphers and writes it back, and commits the file. On failure
// the previous header bytes are put back where possible and the reason is
// returned in error.
// knownCrc, when given, is the checksum of the file's bytes from offset 520
// up to knownLength, kept while they were written: it is taken when the file
// is exactly that long, instead of reading the file back.
bool RewriteHeader(int fd, const PackageCipher& internal, std::string& error, const uint32_t* knownCrc = nullptr,
                   uint64_t knownLength = 0);

// A heap buffer of packed bytes: only the pages written are ever touched,
// so a buffer sized for the worst case costs what the packed data needs.
struct PackedBytes {
    std::unique_ptr<uint8_t, void (*)(void*)> data{nullptr, std::free};
    size_t size = 0;
};
// UCL NRV2B at level 6 into out (sized to the packed length). False if the
// compressor fails.
bool CompressBlock(const uint8_t* data, uint32_t size, PackedBytes& out);
bool CompressBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out);
// Sets UCL's allocation hooks that CompressBlock uses, when they are not
// set: called on one thread before compressions are handed to others.
void PrepareCompressor();
// Frees the compressor's work tables kept between calls.
void ReleaseCompressorMemory();
// Decompresses exactly size bytes into out (capacity size); false on a
// damaged stream or any other produced length. The packed bytes are read
// from a copy followed by zeroed slack, so packed need hold only packedSize
// bytes even when the stream is cut short (UCL's decoder reads a few bytes
// ahead before it notices).
bool DecompressBlock(const uint8_t* packed, uint32_t packedSize, uint8_t* out, uint32_t size);
// The zeroed bytes the decoder may read past a cut-short stream.
constexpr size_t kDecompressSlack = 32;
// The same without the copy: packed holds packedSize bytes followed by
// kDecompressSlack zero bytes.
bool DecompressPadded(const uint8_t* packed, uint32_t packedSize, uint8_t* out, uint32_t size);

}  // namespace vlt
