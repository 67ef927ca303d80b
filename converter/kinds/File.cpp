// The raw file kind: any file, kept byte for byte; a "file" element.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"file",
     "ORB",
     "a raw file (FILE block), kept byte for byte",
     {NameRow(), SourceRow("the file, relative to the document's folder (at most 4 GiB less one byte)"),
      Words("storemethod", {"compressed", "raw", "crypted"}, Need::Required,
            "how the package stores the bytes: exactly \"compressed\", exactly \"crypted\" (enciphered), or raw for "
            "any other value")}},
};

}  // namespace

const KindSpec kFileKind = {kinds::Kind::File, "file_", &kElements};

}  // namespace orb
