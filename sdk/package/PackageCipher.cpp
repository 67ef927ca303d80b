// Blowfish through nettle with the byte order of package files, the internal
// key and the block scrambling byte.
#include "package/PackageCipher.h"

#include <cstring>

namespace {

// ---------------------------------------------------------------------------
// Package secrets. Every package ever written depends on these three values:
// changing any of them makes every existing package unreadable (its header
// block no longer deciphers, crypted blocks no longer unscramble).
//
// The internal key, 16 bytes, kept only in scrambled form: each stored byte is
// the key byte XORed with kInternalKeyScrambler.
constexpr uint8_t kInternalKeyScrambler = 0x5C;
constexpr uint8_t kScrambledInternalKey[16] = {
    0x2F, 0x93, 0x6E, 0xD1, 0x08, 0xB4, 0x77, 0x1A, 0xC5, 0x3D, 0xE2, 0x59, 0x84, 0x16, 0xAB, 0x40,
};
// The byte every payload byte of a `crypted` block is XORed with.
constexpr uint8_t kBlockScrambleByte = 0xA7;
// ---------------------------------------------------------------------------

inline void SwapWords(uint8_t* data, size_t length) {
    for (size_t i = 0; i + 4 <= length; i += 4) {
        uint8_t t = data[i];
        data[i] = data[i + 3];
        data[i + 3] = t;
        t = data[i + 1];
        data[i + 1] = data[i + 2];
        data[i + 2] = t;
    }
}

void Wipe(uint8_t* p, size_t n) {
    volatile uint8_t* v = p;
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

}  // namespace

PackageCipher::PackageCipher() { std::memset(&ctx_, 0, sizeof ctx_); }

bool PackageCipher::SetKey(const uint8_t* key, size_t length) {
    if (!key || length < BLOWFISH_MIN_KEY_SIZE || length > BLOWFISH_MAX_KEY_SIZE) return false;
    return blowfish_set_key(&ctx_, length, key) != 0;
}

bool PackageCipher::KeyWithInternalKey(PackageCipher& first, PackageCipher& second) {
    uint8_t key[sizeof kScrambledInternalKey];
    for (size_t i = 0; i < sizeof key; ++i) key[i] = kScrambledInternalKey[i] ^ kInternalKeyScrambler;
    const bool ok = first.SetKey(key, sizeof key) && second.SetKey(key, sizeof key);
    Wipe(key, sizeof key);
    return ok;
}

void PackageCipher::Encipher(uint8_t* data, size_t length) const {
    length -= length % BLOWFISH_BLOCK_SIZE;
    if (!data || !length) return;
    SwapWords(data, length);
    blowfish_encrypt(&ctx_, length, data, data);
    SwapWords(data, length);
}

void PackageCipher::Decipher(uint8_t* data, size_t length) const {
    length -= length % BLOWFISH_BLOCK_SIZE;
    if (!data || !length) return;
    SwapWords(data, length);
    blowfish_decrypt(&ctx_, length, data, data);
    SwapWords(data, length);
}

uint8_t BlockScrambleByte() { return kBlockScrambleByte; }

void ScrambleBlock(uint8_t* data, size_t length) {
    if (!data) return;
    // Four bytes at a time with the byte in every lane, the rest one by one;
    // the result is that of the byte-wise XOR.
    const uint32_t lanes = 0x01010101u * kBlockScrambleByte;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        uint32_t w;
        std::memcpy(&w, data + i, 4);
        w ^= lanes;
        std::memcpy(data + i, &w, 4);
    }
    for (; i < length; ++i) data[i] ^= kBlockScrambleByte;
}
