#!/usr/bin/env python3
"""Writes the PNG and BMP variants that packaged media lack, from real images.

    derive_media.py SRC.rgba W H OUTDIR PREFIX
    derive_media.py --font SRC.rgba W H OUTDIR PREFIX

SRC.rgba holds W*H RGBA pixels (8 bits a sample, rows top down), as
`convert IMAGE -depth 8 rgba:-` writes them. One file per variant is written
to OUTDIR as PREFIX-VARIANT.png or .bmp, and its name printed. Transparent
colours of tRNS variants are those of the top-left pixel, so that every such
file has transparent pixels.

With --font, SRC is a game's font sheet, one row of glyphs: cells of equal
width for the codes 32 to 127, 32 to 126 or 33 to 126 when the width is a
multiple of 96, 95 or 94, else the runs of ink found column by column. The
glyphs of the codes 33 to 126 are laid out as the font class reads them, one
row wide with a marker row on top (magenta over every gap column), as a
24-bit BMP on the sheet's background and as an RGBA PNG with that background
transparent: PREFIX-marked.bmp, PREFIX-marked.png. Real glyphs keep their
empty columns (a '"' of two strokes) and blank cells stay blank, which only
the markers tell apart.
"""
import struct
import sys
import zlib

ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)


def pack_row(samples, depth):
    """samples: flat list of integer samples of one row."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in samples)
    out, acc, bits = bytearray(), 0, 0
    for v in samples:
        acc = acc << depth | v
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def write_png(path, w, h, ctype, depth, pixel, trns=None, interlace=False, plte=None):
    """pixel(x, y) gives the list of samples of one pixel."""
    raw = bytearray()
    passes = ADAM7 if interlace else ((0, 0, 1, 1),)
    for x0, y0, dx, dy in passes:
        if x0 >= w or y0 >= h:
            continue
        for y in range(y0, h, dy):
            row = []
            for x in range(x0, w, dx):
                row.extend(pixel(x, y))
            raw.append(0)
            raw.extend(pack_row(row, depth))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, 1 if interlace else 0))
    if plte is not None:
        data += chunk(b"PLTE", plte)
    if trns is not None:
        data += chunk(b"tRNS", trns)
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def write_bmp(path, w, h, bpp, pixel_bytes, masks=None, topdown=False):
    """pixel_bytes(x, y) gives the bytes of one pixel, little-endian."""
    stride = (w * bpp // 8 + 3) & ~3
    rows = []
    for y in (range(h) if topdown else range(h - 1, -1, -1)):
        row = b"".join(pixel_bytes(x, y) for x in range(w))
        rows.append(row + b"\0" * (stride - len(row)))
    pixels = b"".join(rows)
    extra = struct.pack("<4I", *masks) if masks else b""
    offset = 14 + 40 + len(extra)
    info = struct.pack("<IiiHHIIiiII", 40, w, -h if topdown else h, 1, bpp, 3 if masks else 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + extra + pixels)


def write_palette_bmp(path, w, h, bpp, index, palette, header):
    """A paletted BMP with an info header of `header` bytes: 12 (core, 3-byte
    entries), 40, 64 (OS/2) or 108/124 (colour-space fields filled)."""
    stride = (w * bpp + 31) // 32 * 4
    rows = []
    for y in range(h - 1, -1, -1):
        rows.append(pack_row([index(x, y) for x in range(w)], bpp).ljust(stride, b"\0"))
    pixels = b"".join(rows)
    entries = palette[:1 << bpp] + [(0, 0, 0)] * ((1 << bpp) - len(palette[:1 << bpp]))
    if header == 12:
        info = struct.pack("<IHHHH", 12, w, h, 1, bpp)
        pal = b"".join(bytes((b, g, r)) for r, g, b in entries)
    else:
        info = struct.pack("<IiiHHIIiiII", header, w, h, 1, bpp, 0, len(pixels), 2835, 2835, len(entries), 0)
        if header >= 108:
            info += struct.pack("<4I", 0, 0, 0, 0) + b"BGRs" + bytes(36) + struct.pack("<3I", 0, 0, 0)
            if header == 124:
                info += struct.pack("<4I", 4, 0, 0, 0)
        info = info.ljust(header, b"\0")
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in entries)
    offset = 14 + len(info) + len(pal)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + pal + pixels)
def font_glyphs(px, w, h, bg):
    """(x, width) of the 94 glyphs of codes 33 to 126 in a sheet, or None."""
    for cells, first in ((96, 1), (95, 1), (94, 0)):
        if w % cells == 0 and 2 <= w // cells <= 4 * h:
            cw = w // cells
            return [((first + i) * cw, cw) for i in range(94)]
    runs, x = [], 0
    ink = [any(px(x, y) != bg for y in range(h)) for x in range(w)]
    while x < w:
        if not ink[x]:
            x += 1
            continue
        start = x
        while x < w and ink[x]:
            x += 1
        runs.append((start, x - start))
    # A sheet of several rows, or one without gaps between its glyphs, is
    # no glyph row.
    if len(runs) < 47 or any(gw > 4 * h for _, gw in runs):
        return None
    return [runs[i % len(runs)] for i in range(94)]


def font_strips(rgba, w, h, outdir, prefix):
    def px(x, y):
        i = (y * w + x) * 4
        return rgba[i:i + 4]

    counts = {}
    for i in range(0, len(rgba), 4):
        counts[rgba[i:i + 4]] = counts.get(rgba[i:i + 4], 0) + 1
    bg = max(counts, key=counts.get)
    glyphs = font_glyphs(px, w, h, bg)
    if not glyphs:
        return []
    sw = 1 + sum(gw + 1 for _, gw in glyphs)
    sh = h + 1
    # Column sources of the strip: None for a gap, else the sheet column.
    cols = [None]
    for gx, gw in glyphs:
        cols.extend(range(gx, gx + gw))
        cols.append(None)
    magenta = b"\xff\x00\xff\xff"
    # Row 0 over a glyph must not read as a marker, whatever the background.
    unmarked = b"\x00\x00\x00\xff" if bg[:3] == magenta[:3] else bg

    def strip(x, y):
        src = cols[x]
        if y == 0:
            return magenta if src is None else unmarked
        return bg if src is None else px(src, y - 1)

    made = []
    path = "%s/%s-marked.bmp" % (outdir, prefix)
    write_bmp(path, sw, sh, 24, lambda x, y: bytes((strip(x, y)[2], strip(x, y)[1], strip(x, y)[0])))
    made.append(path)

    def rgba_px(x, y):
        if y == 0:
            return [255, 0, 255, 255] if cols[x] is None else [0, 0, 0, 0]
        p = strip(x, y)
        return [0, 0, 0, 0] if p == bg else [p[0], p[1], p[2], 255]

    path = "%s/%s-marked.png" % (outdir, prefix)
    write_png(path, sw, sh, 6, 8, rgba_px)
    made.append(path)
    return made


def main(argv):
    if len(argv) > 1 and argv[1] == "--font":
        src, w, h, outdir, prefix = argv[2], int(argv[3]), int(argv[4]), argv[5], argv[6]
        with open(src, "rb") as f:
            rgba = f.read()
        if len(rgba) != w * h * 4:
            sys.exit("derive_media: %s holds %d bytes, not %dx%d RGBA" % (src, len(rgba), w, h))
        for p in font_strips(rgba, w, h, outdir, prefix):
            print(p)
        return 0
    src, w, h, outdir, prefix = argv[1], int(argv[2]), int(argv[3]), argv[4], argv[5]
    with open(src, "rb") as f:
        rgba = f.read()
    if len(rgba) != w * h * 4:
        sys.exit("derive_media: %s holds %d bytes, not %dx%d RGBA" % (src, len(rgba), w, h))

    def px(x, y):
        i = (y * w + x) * 4
        return rgba[i:i + 4]

    def grey(x, y):
        r, g, b, _ = px(x, y)
        return (r * 299 + g * 587 + b * 114) // 1000

    def scaled(v, depth):
        return v * ((1 << depth) - 1) // 255

    made = []

    def png(variant, ctype, depth, pixel, trns=None, interlace=False):
        path = "%s/%s-%s.png" % (outdir, prefix, variant)
        write_png(path, w, h, ctype, depth, pixel, trns, interlace)
        made.append(path)

    for depth in (1, 2, 4, 8, 16):
        png("grey%d" % depth, 0, depth, lambda x, y, d=depth: [scaled(grey(x, y), d)])
    key_grey = scaled(grey(0, 0), 4)
    png("grey4-trns", 0, 4, lambda x, y: [scaled(grey(x, y), 4)], struct.pack(">H", key_grey))
    png("grey16-trns", 0, 16, lambda x, y: [grey(x, y) * 257], struct.pack(">H", grey(0, 0) * 257))
    png("grey8-interlaced", 0, 8, lambda x, y: [grey(x, y)], interlace=True)
    png("greyA16", 4, 16, lambda x, y: [grey(x, y) * 257, px(x, y)[3] * 257])
    png("greyA8-interlaced", 4, 8, lambda x, y: [grey(x, y), px(x, y)[3]], interlace=True)
    r0, g0, b0, _ = px(0, 0)
    png("rgb8-trns", 2, 8, lambda x, y: list(px(x, y)[:3]), struct.pack(">HHH", r0, g0, b0))
    png("rgb16", 2, 16, lambda x, y: [v * 257 for v in px(x, y)[:3]])
    png("rgb16-trns", 2, 16, lambda x, y: [v * 257 for v in px(x, y)[:3]], struct.pack(">HHH", r0 * 257, g0 * 257, b0 * 257))
    png("rgb8-interlaced", 2, 8, lambda x, y: list(px(x, y)[:3]), interlace=True)
    png("rgba8-interlaced", 6, 8, lambda x, y: list(px(x, y)), interlace=True)
    png("rgba16-interlaced", 6, 16, lambda x, y: [v * 257 for v in px(x, y)], interlace=True)

    def bmp(variant, bpp, pixel_bytes, masks=None, topdown=False):
        path = "%s/%s-%s.bmp" % (outdir, prefix, variant)
        write_bmp(path, w, h, bpp, pixel_bytes, masks, topdown)
        made.append(path)

    def rgb555(x, y):
        r, g, b, _ = px(x, y)
        return struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)

    def rgb565(x, y):
        r, g, b, _ = px(x, y)
        return struct.pack("<H", (r >> 3) << 11 | (g >> 2) << 5 | b >> 3)

    bmp("bmp16", 16, rgb555)
    bmp("bmp16-bitfields565", 16, rgb565, (0xF800, 0x07E0, 0x001F, 0))
    bmp("bmp24-topdown", 24, lambda x, y: bytes((px(x, y)[2], px(x, y)[1], px(x, y)[0])), topdown=True)
    bmp("bmp32", 32, lambda x, y: bytes((px(x, y)[2], px(x, y)[1], px(x, y)[0], 0)))
    bmp("bmp32-bitfields-alpha", 32, lambda x, y: bytes((px(x, y)[2], px(x, y)[1], px(x, y)[0], px(x, y)[3])),
        (0x00FF0000, 0x0000FF00, 0x000000FF, 0))
    # Paletted forms: 8 bits on a 3-3-2 palette, 4 bits on 16 tinted greys,
    # 1 bit black and a colour.
    pal8 = [(r * 255 // 7, g * 255 // 7, b * 255 // 3) for r in range(8) for g in range(8) for b in range(4)]
    pal4 = [(v * 17, v * 15, v * 13) for v in range(16)]
    pal1 = [(0, 0, 0), (237, 180, 20)]

    def idx8(x, y):
        r, g, b, _ = px(x, y)
        return (r >> 5) << 5 | (g >> 5) << 2 | b >> 6

    forms = {8: (pal8, idx8), 4: (pal4, lambda x, y: grey(x, y) >> 4), 1: (pal1, lambda x, y: 1 if grey(x, y) >= 128 else 0)}
    for header in (12, 64, 108, 124):
        for bpp, (palette, index) in forms.items():
            path = "%s/%s-bmp%d-h%d.bmp" % (outdir, prefix, bpp, header)
            write_palette_bmp(path, w, h, bpp, index, palette, header)
            made.append(path)
    plte = b"".join(bytes(c) for c in pal8)
    k = idx8(0, 0)
    for variant, alpha in (("one", [255] * k + [0]), ("several", [0 if i in (k, (k + 1) % 256) else 255 for i in range(256)]),
                           ("partial", [(i * 37) % 256 for i in range(256)]), ("opaque", [255] * 256)):
        path = "%s/%s-pal8-trns-%s.png" % (outdir, prefix, variant)
        write_png(path, w, h, 3, 8, lambda x, y: [idx8(x, y)], bytes(alpha), plte=plte)
        made.append(path)
    for p in made:
        print(p)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
