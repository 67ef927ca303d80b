// The walk shared by the package targets.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"
#include "resources/Kinds.h"

namespace fuzzsupport {

// Upper bound of entries a walk looks at. A package's entries are at least
// 80 bytes each, so an input of the fuzzer's sizes never reaches it; it only
// keeps a damaged cursor from looping for ever.
constexpr size_t kMaxWalkSteps = 4096;

// Opens the package at path, walks, counts and loads it, and closes it.
inline void WalkPackage(const std::string& path) {
    const int id = g_pStuffVLT->Open(path.c_str());
    if (id < 1) return;
    std::vector<kinds::Entry> entries;
    kinds::WalkEntries(id, entries, kMaxWalkSteps);
    g_pStuffVLT->Count(id);
    g_pStuffVLT->CountDeleted(id);
    g_pStuffVLT->GetName(id);
    for (const kinds::Entry& e : entries) {
        if (e.deleted()) continue;
        BlockInfo loaded{};
        g_pStuffVLT->LoadBlock(id, e.type.c_str(), e.name.c_str(), &loaded);
        g_pStuffVLT->FreeBlock(&loaded);
        const kinds::KindRow* row = kinds::Find(e.type);
        if (row && row->load) row->load(id, e.name.c_str());
    }
    // After the upgrades of old blocks.
    g_pStuffVLT->Count(id);
    g_pStuffVLT->Close(id);
}

// The package targets take the header block in plain form, so that the
// fuzzer can change its fields (the protected flag above all); the target
// enciphers it with the internal key before writing the file. When bit 0 of
// the reserved byte at offset 94 of the plain header is clear (as in every
// seed), the checksum field is first set to the CRC-32 of everything after
// the header, so that most inputs get past the checksum test of Open and
// the others test it.
inline std::vector<uint8_t> SealPackage(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    if (size < vlt::kFirstEntry) return file;
    uint8_t* header = file.data() + vlt::kHeadSize;
    if ((header[94] & 1) == 0) {
        const uint64_t rest = size - vlt::kFirstEntry;
        const uint32_t crc = Trovalis.CRC32(file.data() + vlt::kFirstEntry, static_cast<int32_t>(rest));
        StoreLE32(header + vlt::kChecksumOffset, crc);
    }
    static PackageCipher internal, unused;
    static const bool keyed = PackageCipher::KeyWithInternalKey(internal, unused);
    if (keyed) internal.Encipher(header, vlt::kHeaderSize);
    return file;
}

}  // namespace fuzzsupport
