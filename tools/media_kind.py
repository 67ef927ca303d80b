#!/usr/bin/env python3
"""Names the media format and variant of files by their content.

    media_kind.py FILE...          one line per recognised file: FORMAT<TAB>VARIANT<TAB>PATH
    media_kind.py --find DIR       the same for every regular file under DIR

FORMAT is one of png bmp wav ogg aiff voc mod xm s3m it midi; files of any
other content are left out. Only headers are read (and, for 32-bit BMP, the
pixels, to tell whether the fourth byte is used), so a damaged file is still
named by its magic.
"""
import os
import struct
import sys


def png_variant(data):
    if len(data) < 33 or data[12:16] != b"IHDR":
        return "damaged"
    depth, ctype, _, _, interlace = data[24], data[25], data[26], data[27], data[28]
    names = {0: "grey", 2: "rgb", 3: "pal", 4: "greyA", 6: "rgba"}
    v = "%s%d" % (names.get(ctype, "ctype%d" % ctype), depth)
    pos, trns = 8, None
    while pos + 8 <= len(data):
        length, tag = struct.unpack(">I4s", data[pos:pos + 8])
        if tag == b"tRNS":
            trns = data[pos + 8:pos + 8 + length]
        if tag in (b"IDAT", b"IEND"):
            break
        pos += 12 + length
    if trns is not None:
        v += "-trns"
        # A palette's table: one transparent entry (a key), several, partial
        # values, or opaque entries only.
        if ctype == 3:
            zeros, partial = trns.count(0), any(0 < a < 255 for a in trns)
            v += "-partial" if partial else "-opaque" if zeros == 0 else "-one" if zeros == 1 else "-several"
    if interlace:
        v += "-interlaced"
    return v


def bmp_variant(data):
    if len(data) < 30:
        return "damaged"
    header = struct.unpack("<I", data[14:18])[0]
    if header == 12:
        return "os2-%d" % struct.unpack("<H", data[24:26])[0]
    bpp = struct.unpack("<H", data[28:30])[0]
    comp = struct.unpack("<I", data[30:34])[0] if len(data) >= 34 else 0
    v = "bmp%d" % bpp
    v += {1: "-rle8", 2: "-rle4", 3: "-bitfields"}.get(comp, "" if comp == 0 else "-comp%d" % comp)
    if bpp == 32 and len(data) >= 54:
        offset = struct.unpack("<I", data[10:14])[0]
        if any(data[i] for i in range(offset + 3, len(data), 4)):
            v += "-4thbyte"
    if header not in (40,):
        v += "-v%d" % header
    return v


def wav_variant(data):
    pos = 12
    while pos + 8 <= len(data):
        tag, length = struct.unpack("<4sI", data[pos:pos + 8])
        if tag == b"fmt " and length >= 16 and pos + 24 <= len(data):
            fmt, ch, rate, _, _, bits = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
            if fmt == 0xFFFE and length >= 40 and pos + 34 <= len(data):
                fmt = struct.unpack("<H", data[pos + 32:pos + 34])[0]
                kind = "ext-"
            else:
                kind = ""
            kind += {1: "pcm", 2: "msadpcm", 3: "float", 6: "alaw", 7: "ulaw", 0x11: "imaadpcm",
                     0x55: "mp3"}.get(fmt, "fmt%d" % fmt)
            return "%s%d-%s" % (kind, bits, {1: "mono", 2: "stereo"}.get(ch, "%dch" % ch))
        pos += 8 + length + (length & 1)
    return "damaged"


def aiff_variant(data):
    kind = "aifc" if data[8:12] == b"AIFC" else "aiff"
    pos = 12
    while pos + 8 <= len(data):
        tag, length = struct.unpack(">4sI", data[pos:pos + 8])
        if tag == b"COMM" and pos + 16 <= len(data):
            ch, _, bits = struct.unpack(">HIH", data[pos + 8:pos + 16])
            v = "%s%d-%s" % (kind, bits, {1: "mono", 2: "stereo"}.get(ch, "%dch" % ch))
            if kind == "aifc" and pos + 30 <= len(data):
                v += "-" + data[pos + 26:pos + 30].decode("latin-1").strip()
            return v
        pos += 8 + length + (length & 1)
    return kind + "-damaged"


def voc_variant(data):
    if len(data) < 26:
        return "damaged"
    pos = struct.unpack("<H", data[20:22])[0]
    while pos < len(data):
        btype = data[pos]
        if btype == 0 or pos + 4 > len(data):
            break
        length = data[pos + 1] | data[pos + 2] << 8 | data[pos + 3] << 16
        if btype == 1 and pos + 6 <= len(data):
            return "voc-type1-codec%d" % data[pos + 5]
        if btype == 9 and pos + 16 <= len(data):
            _, bits, ch, codec = struct.unpack("<IBBH", data[pos + 4:pos + 12])
            return "voc-type9-%dbit-%dch-codec%d" % (bits, ch, codec)
        pos += 4 + length
    return "voc-nodata"


MOD_TAGS = (b"M.K.", b"M!K!", b"FLT4", b"FLT8", b"4CHN", b"6CHN", b"8CHN", b"CD81", b"OKTA", b"TDZ4")


def kind(path):
    try:
        with open(path, "rb") as f:
            head = f.read(2048)
            if head[:2] == b"BM" and len(head) >= 30:
                data = head + f.read()
            elif head[:4] in (b"\x89PNG", b"RIFF", b"FORM", b"Crea"):
                data = head + f.read(1 << 16)
            else:
                data = head
    except OSError:
        return None
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return "png", png_variant(data)
    if data[:2] == b"BM" and len(data) >= 30 and struct.unpack("<I", data[14:18])[0] in (12, 40, 52, 56, 64, 108, 124):
        return "bmp", bmp_variant(data)
    if data[:4] == b"RIFF" and data[8:12] == b"WAVE":
        return "wav", wav_variant(data)
    if data[:4] == b"RIFF" and data[8:12] == b"RMID":
        return "midi", "rmid"
    if data[:4] == b"OggS":
        body = data[28:40]
        if body[1:7] == b"vorbis":
            return "ogg", "vorbis"
        return "ogg", "other-" + body[:8].strip(b"\x00\x01\x7f").decode("latin-1", "replace")
    if data[:4] == b"FORM" and data[8:12] in (b"AIFF", b"AIFC"):
        return "aiff", aiff_variant(data)
    if data[:20] == b"Creative Voice File\x1a":
        return "voc", voc_variant(data)
    if data[:4] == b"MThd":
        return "midi", "smf%d" % (struct.unpack(">H", data[8:10])[0] if len(data) >= 10 else -1)
    if data[:17] == b"Extended Module: ":
        return "xm", "xm"
    if data[:4] == b"IMPM":
        return "it", "it"
    if data[44:48] == b"SCRM":
        return "s3m", "s3m"
    if data[1080:1084] in MOD_TAGS or data[1080:1082] in (b"11", b"12", b"14", b"16", b"10") and data[1082:1084] == b"CH":
        return "mod", "mod-" + data[1080:1084].decode("latin-1")
    if path.lower().endswith(".mod") and len(data) >= 600:
        return "mod", "mod-15sample"
    return None


def main(argv):
    if len(argv) == 3 and argv[1] == "--find":
        paths = []
        for root, _, files in os.walk(argv[2]):
            for name in files:
                p = os.path.join(root, name)
                if os.path.isfile(p) and not os.path.islink(p):
                    paths.append(p)
        paths.sort()
    else:
        paths = argv[1:]
    out = sys.stdout
    for p in paths:
        k = kind(p)
        if k:
            out.write("%s\t%s\t%s\n" % (k[0], k[1], p))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
