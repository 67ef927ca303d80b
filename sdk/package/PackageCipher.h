// The cipher and the byte scrambling of package files.
//
// Blowfish (16 rounds, electronic code book over 8-byte blocks) through
// nettle. The package format reads each 8-byte block as two little-endian
// 32-bit words, L then R, while nettle reads them big-endian: every word is
// byte-swapped around the nettle calls, so the bytes on disk are those of
// the format and not of nettle's convention.
//
// The internal key enciphers the header block of every package; the package
// key (keyed with the internal key too, and never changed in this system)
// enciphers descriptors and payloads of protected packages. The key values
// and the block scrambling byte live in PackageCipher.cpp, each defined once.
#pragma once
#include <cstddef>
#include <cstdint>

#include <nettle/blowfish.h>

class PackageCipher {
public:
    PackageCipher();

    // Keys the state with length bytes (8 to 56). False when nettle refuses
    // the key as weak; the state is then unusable.
    bool SetKey(const uint8_t* key, size_t length);

    // Keys each given state with the internal key. The key is kept scrambled
    // in memory; the plain bytes exist only in a local copy for the duration
    // of this call and are wiped before it returns. False if a keying failed.
    static bool KeyWithInternalKey(PackageCipher& first, PackageCipher& second);

    // In place, over the whole 8-byte blocks of data (a trailing partial
    // block, which the format never produces, is left as it is).
    void Encipher(uint8_t* data, size_t length) const;
    void Decipher(uint8_t* data, size_t length) const;

private:
    struct blowfish_ctx ctx_;
};

// The block scrambling of storage mode `crypted`: every byte XORed with the
// block scrambling byte. The same call undoes it.
void ScrambleBlock(uint8_t* data, size_t length);
uint8_t BlockScrambleByte();
