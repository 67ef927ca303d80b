#!/usr/bin/env bash
# Gathers real-world media for tools/sweep.sh from Debian's packages: game
# data, sound, music and icon packages, fetched with apt-get download and
# unpacked with dpkg -x (nothing is installed).
#
#   tools/gather_media.sh [--cap N] DEST
#
# DEST/debs/       the downloaded packages (kept, so that a second run fetches nothing)
# DEST/pkgs/P/     package P unpacked
# DEST/media/P/    the media files chosen from P (at most N per format variant,
#                  default 40, picked evenly from the sorted list), paths as in
#                  the package
# DEST/media/derived/
#                  variants that no package has (grey and 16-bit PNG, PNG
#                  with tRNS of every kind, interlaced, 16/32-bit and top-down
#                  BMP, 1/4/8-bit BMP with 12, 64, 108 and 124-byte headers, u-law,
#                  A-law, float, 24-bit and ADPCM WAV, AIFF, AIFF-C and VOC,
#                  94-glyph font strips from the games' font sheets), made
#                  from packaged files by tools/derive_media.py and sox
# DEST/packages.tsv  package, version, licence (from its copyright file), copyright file
# DEST/media.tsv     format, variant, package, path below DEST/media
# DEST/derived.tsv   derived file, source package, source path, how it was made
#
# Needs apt-get (apt-get update is run when the lists lack a package), python3,
# and for the derived files imagemagick and sox (installed with apt-get when
# missing, as root).
set -euo pipefail

CAP=40
if [ "${1:-}" = "--cap" ]; then CAP=$2; shift 2; fi
[ $# -eq 1 ] || { echo "usage: $0 [--cap N] DEST" >&2; exit 2; }
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
DEST=$(cd "$1" && pwd)

PACKAGES=(
  # games: PNG, BMP, WAV, Ogg and tracker modules
  freedroid-data frozen-bubble-data pingus-data lbreakout2-data lgeneral-data ltris
  kobodeluxe-data mirrormagic-data chromium-bsu-data pinball-data flobopuyo amphetamine-data
  njam-data gnurobbo-data icebreaker lmarbles ceferino-data gweled funnyboat circuslinux-data
  penguin-command excellent-bifurcation pachi-data holotz-castle-data
  # palette PNGs with one transparent entry and RGB PNGs with a key colour;
  # 8-bit BMPs with 124-byte headers
  biniax2-data netpanzer-data
  # more font sheets, u-law WAVs and RGB PNGs
  barrage kbounce lmms-common
  # sounds, music, icons, AIFF samples
  sound-theme-freedesktop sound-icons alsa-utils openttd-openmsx tango-icon-theme
  puredata-doc supercollider-common
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! apt-cache policy "${PACKAGES[0]}" 2>/dev/null | grep -q 'Candidate: [0-9]'; then
  $SUDO apt-get update -qq
fi
for tool in sox:sox identify:imagemagick; do
  command -v "${tool%%:*}" >/dev/null || { $SUDO apt-get install -y -qq "${tool##*:}" >/dev/null; }
done
CONVERT=/usr/bin/convert   # the real ImageMagick, whatever else is first on PATH

# 1. Download and unpack.
mkdir -p "$DEST/debs" "$DEST/pkgs"
need=()
for p in "${PACKAGES[@]}"; do
  ls "$DEST/debs/${p}_"*.deb >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  (cd "$DEST/debs" && apt-get download "${need[@]}" >/dev/null)
fi

# The licence as the copyright file names it: the machine-readable "License:"
# lines, else the GPL/LGPL version its text grants.
licence_of() {
  local f=$1 l
  l=$(sed -n 's/^License: *\(.\+\)$/\1/p' "$f" | sort -u | paste -sd ';' -)
  if [ -z "$l" ]; then
    local kind=GPL
    grep -qiE 'GNU (Lesser|Library) General Public License' "$f" && kind=LGPL
    local v
    v=$(grep -oiE 'version [0-9.]+ of the License(, or)?' "$f" | head -1 | sed -E 's/version ([0-9.]+) of the License(, or)?/\1\2/I; s/, or$/+/')
    if grep -qiE 'General Public License|GNU GPL' "$f"; then l="$kind${v:+-$v}"
    elif grep -qi 'public domain' "$f"; then l="public-domain"
    else l="see copyright file"; fi
  fi
  echo "$l"
}

: > "$DEST/packages.tsv"
for p in "${PACKAGES[@]}"; do
  deb=$(ls "$DEST/debs/${p}_"*.deb | head -1)
  [ -d "$DEST/pkgs/$p" ] || { mkdir -p "$DEST/pkgs/$p.tmp" && dpkg -x "$deb" "$DEST/pkgs/$p.tmp" && mv "$DEST/pkgs/$p.tmp" "$DEST/pkgs/$p"; }
  copyright="$DEST/pkgs/$p/usr/share/doc/$p/copyright"
  [ -f "$copyright" ] || copyright=$(ls "$DEST/pkgs/$p"/usr/share/doc/*/copyright 2>/dev/null | head -1 || true)
  lic="no copyright file"
  [ -n "$copyright" ] && [ -f "$copyright" ] && lic=$(licence_of "$copyright")
  printf '%s\t%s\t%s\t%s\n' "$p" "$(dpkg-deb -f "$deb" Version)" "$lic" "${copyright#"$DEST/pkgs/$p/"}" >> "$DEST/packages.tsv"
done

# 2. Choose at most CAP files per package and format variant.
rm -rf "$DEST/media"
mkdir -p "$DEST/media"
: > "$DEST/media.tsv"
for p in "${PACKAGES[@]}"; do
  python3 "$HERE/media_kind.py" --find "$DEST/pkgs/$p" | python3 -c '
import sys, collections
cap = int(sys.argv[1]); prefix = sys.argv[2]
groups = collections.OrderedDict()
for line in sys.stdin:
    fmt, variant, path = line.rstrip("\n").split("\t")
    groups.setdefault((fmt, variant), []).append(path)
for (fmt, variant), paths in groups.items():
    n = len(paths)
    picks = paths if n <= cap else [paths[i * n // cap] for i in range(cap)]
    for path in picks:
        print("%s\t%s\t%s" % (fmt, variant, path[len(prefix):]))
' "$CAP" "$DEST/pkgs/" | while IFS=$'\t' read -r fmt variant rel; do
    mkdir -p "$DEST/media/$(dirname "$rel")"
    cp "$DEST/pkgs/$rel" "$DEST/media/$rel"
    printf '%s\t%s\t%s\t%s\n' "$fmt" "$variant" "$p" "$rel" >> "$DEST/media.tsv"
  done
done

# 3. Derived variants, from a few packaged files each (the first of a
# variant in a package, so the choice does not change between runs).
D="$DEST/media/derived"
mkdir -p "$D"
: > "$DEST/derived.tsv"
first() { awk -F'\t' -v f="$1" -v v="$2" -v p="$3" '$1==f && $2==v && $3==p {print $4; exit}' "$DEST/media.tsv"; }
n=0
for src in "png rgba8 lbreakout2-data" "png rgb8 circuslinux-data" "png rgba8 pingus-data" "png greyA8 chromium-bsu-data"; do
  set -- $src
  rel=$(first "$1" "$2" "$3")
  [ -n "$rel" ] || continue
  n=$((n + 1))
  size=$(identify -format '%w %h' "$DEST/media/$rel")
  $CONVERT "$DEST/media/$rel" -depth 8 rgba:"$D/src.rgba"
  python3 "$HERE/derive_media.py" "$D/src.rgba" $size "$D" "img$n" | while read -r out; do
    printf '%s\t%s\t%s\t%s\n' "${out#"$DEST/media/"}" "$3" "${rel#"$3/"}" "pixels rewritten by tools/derive_media.py as $(basename "${out%.*}" | cut -d- -f2-)" >> "$DEST/derived.tsv"
  done
  rm -f "$D/src.rgba"
done
# Font strips: the font sheets that games ship (one row of glyphs, files
# named f_* or *font*, at most 3 a package), laid out by
# tools/derive_media.py --font as 94-glyph strips with their marker row:
# derived/fontN-marked.bmp and .png, which the sweep also imports as fonts.
n=0
while IFS=$'\t' read -r p sheet; do
  size=$(identify -format '%w %h' "$sheet" 2>/dev/null) || continue
  set -- $size
  [ "$1" -ge $(( $2 * 10 )) ] || continue
  n=$((n + 1))
  $CONVERT "$sheet" -depth 8 rgba:"$D/src.rgba"
  python3 "$HERE/derive_media.py" --font "$D/src.rgba" $size "$D" "font$n" | while read -r out; do
    printf '%s\t%s\t%s\t%s\n' "${out#"$DEST/media/"}" "$p" "${sheet#"$DEST/pkgs/$p/"}" "glyphs laid out as a font strip by tools/derive_media.py --font" >> "$DEST/derived.tsv"
  done
  rm -f "$D/src.rgba"
done < <(for p in "${PACKAGES[@]}"; do
  find "$DEST/pkgs/$p" -type f \( -iname 'f_*.bmp' -o -iname 'f_*.png' -o -iname '*font*.bmp' -o -iname '*font*.png' \) | sort | head -3 | sed "s|^|$p\t|"
done)
# sox: -e and -b choose the encoding, the extension the container.
AUDIO_VARIANTS=(
  "ulaw.wav:-e u-law" "alaw.wav:-e a-law" "float32.wav:-e floating-point -b 32" "pcm24.wav:-b 24"
  "pcm32.wav:-e signed -b 32" "imaadpcm.wav:-e ima-adpcm" "pcm8stereo.wav:-b 8 -c 2"
  "pcm16.aiff:-b 16" "pcm8.aiff:-b 8" "pcm24stereo.aiff:-b 24 -c 2" "pcm16.aifc:-b 16" "float32.aifc:-e floating-point -b 32"
  "pcm8.voc:-e unsigned -b 8" "pcm16.voc:-e signed -b 16" "pcm8stereo.voc:-e unsigned -b 8 -c 2" "ulaw.voc:-e u-law"
)
n=0
for src in "wav pcm16-mono sound-icons" "wav pcm8-mono amphetamine-data" "wav pcm16-stereo pinball-data"; do
  set -- $src
  rel=$(first "$1" "$2" "$3")
  [ -n "$rel" ] || continue
  n=$((n + 1))
  for v in "${AUDIO_VARIANTS[@]}"; do
    out="snd$n-${v%%:*}"
    # shellcheck disable=SC2086
    if sox -q "$DEST/media/$rel" ${v#*:} "$D/$out" 2>/dev/null; then
      printf '%s\t%s\t%s\t%s\n' "derived/$out" "$3" "${rel#"$3/"}" "sox SRC ${v#*:} $out" >> "$DEST/derived.tsv"
    fi
  done
done
python3 "$HERE/media_kind.py" --find "$D" | while IFS=$'\t' read -r fmt variant path; do
  printf '%s\t%s\t%s\t%s\n' "$fmt" "$variant" derived "${path#"$DEST/media/"}" >> "$DEST/media.tsv"
done

# 4. Counts.
echo "Packages:"
while IFS=$'\t' read -r p v l c; do
  printf '  %-26s %-28s %5d files  %s\n' "$p" "$v" "$(awk -F'\t' -v p="$p" '$3==p' "$DEST/media.tsv" | wc -l)" "$l"
done < "$DEST/packages.tsv"
printf '  %-26s %-28s %5d files\n' derived "" "$(awk -F'\t' '$3=="derived"' "$DEST/media.tsv" | wc -l)"
echo "Formats:"
cut -f1 "$DEST/media.tsv" | sort | uniq -c | awk '{printf "  %-6s %5d\n", $2, $1}'
echo "Variants:"
cut -f1,2 "$DEST/media.tsv" | sort | uniq -c | awk '{printf "  %-6s %-34s %5d\n", $2, $3, $1}'
echo "Total: $(wc -l < "$DEST/media.tsv") files in $DEST/media"
