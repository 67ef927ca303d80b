// The upgrade of version 3.0 packages, run by IStuffVLT::Open when a head
// says version 3.
//
// Format 3.0 (plain, little-endian): "VLTv" and '3' at offset 4, the creator
// text at 8 (up to 29 bytes), the creation date at 37 (up to 32), entries
// from offset 256. Entry: an 11-byte marker (".BlockData." or B7 "BlockData"
// B7), name (32), type (5; "DELE" marks a deleted block), mode (1), size (4),
// packed size (4), then the packed payload without padding.
//
// Every live block is copied, payload bytes and mode unchanged, into a new 4.0
// file written beside the package under a name that did not exist; the old
// file is kept under the backup name (the path with its extension replaced
// by "_v3.vlt"), which is never overwritten, and the new file takes its place.
#pragma once
#include <cstdint>
#include <string>

class PackageCipher;

namespace vlt {

// The backup name of a 3.0 package: the path cut at its last '.' (its first
// character is not looked at), or to nothing when there is none, plus
// "_v3.vlt".
std::string V3BackupName(const std::string& path);

// A read-write handle of the rebuilt package positioned after its 8 head
// bytes, which are copied to head; -1 on failure, with the 3.0 file left as
// it was and no temporary file left behind.
int UpgradeV3Package(const char* path, const PackageCipher& internal, uint8_t* head);

}  // namespace vlt
