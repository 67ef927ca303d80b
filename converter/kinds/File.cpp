// The raw file kind: any file, kept byte for byte; a "file" element.
#include <cstdio>
#include <cstring>

#include "CommandsSupport.h"
#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SameMeaning.h"
#include "package/BlockPayload.h"
#include "package/IStuffVLT.h"

namespace orb {

const char* StoreMethodName(uint8_t mode) {
    if (mode == 0) return "compressed";
    if (mode == 2) return "crypted";
    return "raw";
}

uint8_t StoreMethodMode(const char* text) {
    if (text && std::strcmp(text, "compressed") == 0) return 0;
    if (text && std::strcmp(text, "crypted") == 0) return 2;
    return 1;
}

namespace {

const Elements kElements = {
    {"file",
     "ORB",
     "a raw file (FILE block), kept byte for byte",
     {NameRow(), SourceRow("the file, relative to the document's folder (at most 4 GiB less one byte)"),
      Words("storemethod", {"compressed", "raw", "crypted"}, Need::Required,
            "how the package stores the bytes: \"compressed\", \"raw\" or \"crypted\" (enciphered)")}},
};


using namespace exportstep;
using namespace importstep;

constexpr size_t kHeadBytes = 64;  // first bytes of a raw file in the gallery

bool Export(ExportSession& s, const std::string& n) {
    BlockPayload block;
    // A loaded block always comes with a buffer, even an empty one; a
    // missing or damaged block comes without.
    g_pStuffVLT->LoadBlock(s.pkg, kinds::TypeOf(kinds::Kind::File), n.c_str(), &block.info);
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    std::string path;
    if (!WritePayload(s, kFileKind.filePrefix, n, "", block.info.data, block.info.size, path)) return false;
    if (!exportstep::Open(s, kFileKind.tag())) return false;
    SetText(s, attr::kName, n.c_str());
    SetText(s, attr::kSource, path.c_str());
    SetText(s, attr::kStoreMethod, StoreMethodName(block.info.mode));
    Close(s);
    return true;
}

// AddData answers with the packed size, and an empty file kept as it is
// (raw or crypted) packs to 0 bytes: the same 0 as a failure. Such a block
// is stored when the package holds it now (it did not before, or AddData
// would have answered -1).
bool StoredEmpty(ImportSession& s, const std::string& name) {
    BlockInfo check;
    std::memset(&check, 0, sizeof check);
    g_pStuffVLT->LoadBlock(s.pkg, kinds::TypeOf(kinds::Kind::File), name.c_str(), &check);
    const bool present = check.data != nullptr;
    if (present) g_pStuffVLT->FreeBlock(&check);
    return present;
}

bool Import(ImportSession& s, std::string& name) {
    std::string method, source;
    std::vector<uint8_t> bytes;
    // The block takes exactly what was read, whatever the size said (the
    // file may change under us), and never more than a block holds.
    if (!ReadName(s, name) || !Text(s, attr::kStoreMethod, method) || !Source(s, source, bytes)) return false;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
    std::snprintf(info.type, sizeof info.type, "%s", kinds::TypeOf(kinds::Kind::File));
    info.mode = StoreMethodMode(method.c_str());
    info.size = static_cast<uint32_t>(bytes.size());
    uint8_t none = 0;  // an empty file still hands over a valid pointer
    info.data = bytes.empty() ? &none : bytes.data();
    // No replacement for raw files.
    ClearStoreReason();
    const int stored = g_pStuffVLT->AddData(s.pkg, &info);
    if (stored > 0) return true;
    if (stored == 0 && info.size == 0 && info.mode != 0 && StoredEmpty(s, name)) return true;
    return StoreFails(s, stored);
}

}  // namespace

}  // namespace orb

// A raw file (or a block of a type no class owns): size, storage mode and
// its first bytes, as text when they are printable, else in hex.
bool gallery::ShowRaw(Session& s, const kinds::Entry& e) {
    BlockPayload block;
    block.Load(s.pkg, e.type.c_str(), e.name.c_str());
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    const size_t n = block.info.size < orb::kHeadBytes ? block.info.size : orb::kHeadBytes;
    bool text = true;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = block.info.data[i];
        if (!(c >= 0x20 && c < 0x7F) && c != '\n' && c != '\r' && c != '\t') text = false;
    }
    std::string head;
    if (text) {
        head = Html(std::string(reinterpret_cast<const char*>(block.info.data), n));
    } else {
        char hex[4];
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(hex, sizeof hex, "%02X", block.info.data[i]);
            head += (i ? (i % 16 ? " " : "\n") : "") + std::string(hex);
        }
    }
    s.html += Open("file", e.name) + "<div class=\"meta\">" + N(block.info.size) + " bytes, " +
              commands::ModeWord(block.info.mode) +
              (e.type == kinds::TypeOf(kinds::Kind::File) ? "" : ", type " + Html(e.type)) +
              (block.info.size > n ? ", the first " + N(n) + " bytes" : "") + "</div>\n<pre>" + head +
              "</pre>\n</section>\n";
    return true;
}

namespace orb {

const KindSpec kFileKind = {
    kinds::Kind::File,         "file_", &kElements, &Counters::fil, false, Export, Import, gallery::ShowRaw,
    samemeaning::CompareStored};

}  // namespace orb
