// Helpers of the package tests beside tests/support.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"

namespace pkgtest {

using testsupport::Bytes;

inline BlockInfo Block(const char* name, const char* type, uint8_t mode, std::vector<uint8_t>& bytes) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.name, name, sizeof info.name - 1);
    std::strncpy(info.type, type, sizeof info.type - 1);
    info.mode = mode;
    info.size = static_cast<uint32_t>(bytes.size());
    info.data = bytes.data();
    return info;
}

// Adds a block of the bytes to package id: AddData's answer.
inline int AddTo(IStuffVLT& m, int id, const char* name, std::vector<uint8_t> bytes, uint8_t mode = stored,
                 const char* type = "FILE") {
    BlockInfo info = Block(name, type, mode, bytes);
    return m.AddData(id, &info);
}

// Deterministic data that compresses poorly.
inline std::vector<uint8_t> Noise(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

// The deciphered header block of the package file bytes.
inline std::vector<uint8_t> Header(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> h(file.begin() + 8, file.begin() + 520);
    PackageCipher internal, unused;
    EXPECT_TRUE(PackageCipher::KeyWithInternalKey(internal, unused));
    internal.Decipher(h.data(), h.size());
    return h;
}

// Writes a deciphered header block back into the package file bytes.
inline void PutHeader(std::vector<uint8_t>& file, std::vector<uint8_t> header) {
    PackageCipher internal, unused;
    EXPECT_TRUE(PackageCipher::KeyWithInternalKey(internal, unused));
    internal.Encipher(header.data(), header.size());
    std::copy(header.begin(), header.end(), file.begin() + 8);
}

inline uint32_t StoredChecksum(const std::vector<uint8_t>& file) { return LoadLE32(Header(file).data() + 96); }

// A test with the SDK started (UCL initialised, g_pStuffVLT created) and a temporary folder.
class PackageTest : public ::testing::Test {
protected:
    testsupport::SdkSession session_;
    testsupport::TempDir dir_;
    IStuffVLT& vlt() { return *g_pStuffVLT; }
    std::string Path(const std::string& name) const { return dir_ / name; }
};

}  // namespace pkgtest
