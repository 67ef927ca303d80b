#!/usr/bin/env python3
"""The real-world sweep behind tools/sweep.sh (see there for the options).

Every PNG, BMP, WAV, Ogg, AIFF, VOC, tracker module and MIDI file under DIR
(named by content, tools/media_kind.py) goes into one ORBv1 document holding
every element that accepts it. The document is imported, the package
exported, the export imported into a second package and that exported again;
both packages are then verified and checked, and the first package updated
from its untouched export, which must leave it as it was (nothing added or
replaced, the same bytes and modification time). A PNG or BMP whose name
starts with "font" is a font strip (tools/derive_media.py --font) and also
goes in as a font. Every command runs under a hang timeout. A file whose commands fail is run again one element at a time, to
name the element kind at fault. Round trips are compared: bytes for sounds,
music and raw files, RGBA pixels (colour keys applied) for images, and the
attributes of both exports.
"""
import argparse
import collections
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import media_kind  # noqa: E402

SOUNDS = {"wav", "aiff", "voc"}
MUSIC = {"mod", "xm", "s3m", "it", "midi"}
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=1",
           UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
# Fault classes; those of CI_CLASSES fail a --ci run.
CI_CLASSES = ("crash", "sanitizer", "hang", "roundtrip", "rewrite")
CLASSES = ("crash", "sanitizer", "hang", "exit", "warning", "roundtrip", "rewrite", "attributes", "unreadable",
           "refused")


class Element:
    """One element of a document: kind (e.g. "tile-ps"), XML text, and how
    its round trip is compared."""

    def __init__(self, kind, tag, name, xml, key=-1, blocks=1):
        self.kind, self.tag, self.name, self.xml, self.key, self.blocks = kind, tag, name, xml, key, blocks


def states(src, blending):
    """A widget's state images: the file in each state that a widget needs
    (the round trip compares the normal one)."""
    return "".join('<image state="%s" source="%s" %s/>' % (st, src, blending) for st in ("normal", "pressed", "deactivated"))


def elements_for(fmt, src, probe):
    w, h, key = probe
    els = []
    if fmt in ("png", "bmp") and os.path.basename(src).startswith("src_font"):
        blending = 'alphablending="per-pixel"' if fmt == "png" else 'alphablending="per-surface" alphamod="255" colorkey="-1"'
        els.append(Element("font", "font", "fnt", '<font name="fnt" source="%s" %s kerning="1" />' % (src, blending)))
    if fmt in ("png", "bmp"):
        sprite = ('<sprite name="{n}" source="%s" alphablending="{b}" {k}xoffset="{fw}" yoffset="%d">'
                  '<animation id="0" type="2" status="32768" frames="{f}" hotx="0" hoty="0" starframe="0" '
                  'endframe="{e}">{frames}</animation></sprite>') % (src, h)

        def sprite_xml(n, blending, keys, frames):
            fw = w // frames
            return sprite.format(n=n, b=blending, k=keys, fw=fw, f=frames, e=frames - 1,
                                 frames="".join('<frame id="%d" ms="%d" />' % (i, 100 + i) for i in range(frames)))

        ps = 'alphamod="255" colorkey="%d" ' % key
        if fmt == "png":
            els.append(Element("image-pp", "image", "pp", '<image name="pp" source="%s" alphablending="per-pixel" />' % src))
            els.append(Element("tile-pp", "tile", "pp", '<tile name="pp" source="%s" alphablending="per-pixel" '
                               'xposition="3" yposition="4" tileset="disabled" />' % src))
            els.append(Element("sprite-pp", "sprite", "pp", sprite_xml("pp", "per-pixel", "", 1)))
            els.append(Element("widget-pp", "widget", "wpp", '<widget name="wpp" type="button" id="1" xposition="1" '
                               'yposition="2" key="13" selectboxRGB="255" value="0" range="0">%s</widget>'
                               % states(src, 'alphablending="per-pixel" '), blocks=4))
        else:
            els.append(Element("image-ps", "image", "ps", '<image name="ps" source="%s" alphablending="per-surface" '
                               'alphamod="128" colorkey="-1" />' % src))
        els.append(Element("tile-ps", "tile", "ps", '<tile name="ps" source="%s" alphablending="per-pSurface" %s'
                           'xposition="0" yposition="0" tileset="enabled" xoffset="%d" yoffset="%d" />'
                           % (src, ps, w, h), key=key))
        els.append(Element("sprite-ps", "sprite", "ps", sprite_xml("ps", "per-surface", ps, 2 if w % 2 == 0 else 1),
                           key=key))
        els.append(Element("widget-ps", "widget", "wps", '<widget name="wps" type="checkbox" id="2" xposition="5" '
                           'yposition="6" key="32" selectboxRGB="65280" value="1" range="0">%s</widget>'
                           % states(src, 'alphablending="per-surface" ' + ps), key=key, blocks=4))
    if fmt in SOUNDS or fmt == "ogg":
        els.append(Element("sound", "sound", "snd", '<sound name="snd" source="%s" />' % src))
    if fmt in MUSIC or fmt == "ogg":
        els.append(Element("music", "music", "mus", '<music name="mus" source="%s" />' % src))
    for method, n in (("compressed", "fc"), ("crypted", "fx"), ("raw", "fr")):
        els.append(Element("file-" + method, "file", n, '<file name="%s" source="%s" storemethod="%s" />' % (n, src, method)))
    return els


def write_doc(path, els):
    total = sum(e.blocks for e in els)
    body = [e.xml for e in els if e.tag != "widget"]
    widgets = [e.xml for e in els if e.tag == "widget"]
    if widgets:
        body.append('<panel name="default" xposition="0" yposition="0" width="800" height="600" alphamod="0">%s</panel>'
                    % "".join(widgets))
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>\n'
                '<ORB version="v1" source="p0.vlt" date="Mon Dec  7 08:00:00 2026&#x0A;" creator="Bundlex v2.0" '
                'totalblocks="%d">\n    %s\n</ORB>\n' % (total, "\n    ".join(body)))


class Runner:
    def __init__(self, args):
        self.args = args

    def run(self, cwd, argv):
        """One command: (faults, stdout). Faults are (class, detail)."""
        try:
            p = subprocess.run(argv, cwd=cwd, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               timeout=self.args.timeout)
        except subprocess.TimeoutExpired as e:
            return [("hang", "no end after %d s" % self.args.timeout)], (e.stdout or b"").decode("latin-1")
        out, err = p.stdout.decode("latin-1"), p.stderr.decode("latin-1")
        faults = []
        if "ERROR: AddressSanitizer" in err or "ERROR: LeakSanitizer" in err or "runtime error:" in err:
            faults.append(("sanitizer", sanitizer_summary(err)))
        elif p.returncode < 0 or p.returncode >= 128:
            faults.append(("crash", "exit %d %s" % (p.returncode, stack_top(err))))
        elif p.returncode != 0:
            faults.append(("exit", "exit %d: %s" % (p.returncode, last_line(out))))
        if "WARNING" in out or "problem found" in out:
            faults.append(("warning", warning_text(out)))
        return faults, out

    def chain(self, cwd, doc):
        """Import, export, import, export, verify, check, the long listing
        and the gallery: faults as (step, class, detail). Stops where a later
        step has nothing to read."""
        b = self.args.bundlex
        faults = []
        steps = [("import1", [b, doc, "p1.vlt"], "p1.vlt"), ("export1", [b, "p1.vlt", "e1.xml"], "e1.xml"),
                 ("import2", [b, "e1.xml", "p2.vlt"], "p2.vlt"), ("export2", [b, "p2.vlt", "e2.xml"], "e2.xml")]
        for step, argv, made in steps:
            got, _ = self.run(cwd, argv)
            faults += [(step,) + f for f in got]
            if not os.path.exists(os.path.join(cwd, made)):
                if not got:
                    faults.append((step, "exit", "%s not written" % made))
                break
            if step == "export1":
                faults += self.noop_update(cwd)
        for pkg in ("p1.vlt", "p2.vlt"):
            if os.path.exists(os.path.join(cwd, pkg)):
                for cmd in ("--verify", "--check"):
                    got, _ = self.run(cwd, [b, cmd, pkg])
                    faults += [(cmd[2:] + "-" + pkg[:2],) + f for f in got]
        # The readers that decode every block as well: the listing of its
        # properties and the gallery (sounds decoded to WAV, music heads read).
        if os.path.exists(os.path.join(cwd, "p1.vlt")):
            for step, argv in (("list-long", [b, "--list", "--long", "p1.vlt"]),
                               ("gallery", [b, "--gallery", "p1.vlt", "g1.html"])):
                got, _ = self.run(cwd, argv)
                faults += [(step,) + f for f in got]
        return faults


    def noop_update(self, cwd):
        """The untouched export brought back into its package: faults as
        (step, class, detail); a rewrite is anything added or replaced, or
        the package's bytes or modification time changed."""
        pkg = os.path.join(cwd, "p1.vlt")
        before = os.stat(pkg)
        with open(pkg, "rb") as f:
            data = f.read()
        got, out = self.run(cwd, [self.args.bundlex, "--update", "e1.xml", "p1.vlt"])
        faults = [("update",) + f for f in got]
        m = re.search(r"Updated '[^']*': (\d+) added, (\d+) replaced, (\d+) unchanged, (\d+) failed", out)
        after = os.stat(pkg)
        with open(pkg, "rb") as f:
            same = f.read() == data
        if m and (m.group(1) != "0" or m.group(2) != "0"):
            faults.append(("update", "rewrite", "%s added, %s replaced by a no-op update" % (m.group(1), m.group(2))))
        if not same or after.st_mtime_ns != before.st_mtime_ns:
            faults.append(("update", "rewrite", "the package %s" % ("bytes changed" if not same else "was touched")))
        return faults


def last_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1][:160] if lines else ""


def warning_text(out):
    m = re.findall(r"(?:WARNING|problem found)[^\n]*", out)
    return "; ".join(sorted(set(x.strip()[:120] for x in m)))[:300]


FRAME = re.compile(r"#\d+ 0x[0-9a-f]+ in (\S+) (\S+)")


def stack_top(err):
    """The first frame, and the first of the project's own code when that
    is another."""
    frames = FRAME.findall(err)
    if not frames:
        return ""
    text = "at %s %s" % (frames[0][0], os.path.basename(frames[0][1]))
    own = [f for f in frames if "/sdk/" in f[1] or "/converter/" in f[1] or "/tools/" in f[1]]
    if own and own[0] != frames[0]:
        text += " from %s %s" % (own[0][0], os.path.basename(own[0][1]))
    return text


def sanitizer_summary(err):
    m = re.search(r"(ERROR: \w+Sanitizer: [^\n]*|[^\s]+: runtime error: [^\n]*)", err)
    head = m.group(1) if m else "sanitizer report"
    head = re.sub(r" on address 0x[0-9a-f]+.*", "", head)
    return ("%s %s" % (head, stack_top(err))).strip()[:300]


def payload_of(doc_path, tag, name):
    """(source, colorkey, attributes) of the element tag/name of an export."""
    try:
        root = ET.parse(doc_path).getroot()
    except (ET.ParseError, OSError):
        return None
    for el in root.iter():
        if tag == "widget" and el.tag == "widget" and el.get("name") == name:
            img = el.find("image")
            if img is None:
                return None
            return img.get("source"), int(img.get("colorkey", "-1")), attributes(el)
        if el.tag == tag and el.get("name") == name and tag != "widget":
            return el.get("source"), int(el.get("colorkey", "-1")), attributes(el)
    return None


def attributes(el):
    """The element and its children as text, payload folders left out."""
    parts = []
    for sub in el.iter():
        attrs = " ".join('%s="%s"' % (k, re.sub(r"^e\d/", "", v) if k == "source" else v) for k, v in sub.attrib.items())
        parts.append("<%s %s>" % (sub.tag, attrs))
    return "".join(parts)


BLOCK_TYPES = {"image": "IMG", "tile": "TILE2", "sprite": "SPR2", "font": "FONT2", "widget": "BUT", "sound": "SND",
               "music": "MUS", "file": "FILE"}


def package_blocks(runner, cwd, pkg):
    """The live (type, name) pairs of a package, from --list --json."""
    faults, out = runner.run(cwd, [runner.args.bundlex, "--list", pkg, "--json"])
    try:
        entries = json.loads(out).get("entries", []) if not faults else []
    except ValueError:
        entries = []
    return {(e.get("type"), e.get("name")) for e in entries if not e.get("is_deleted")}


def roundtrip(runner, cwd, fmt, src_abs, el, p1_blocks):
    """Faults of one element's round trip: (class, detail)."""
    e1 = payload_of(os.path.join(cwd, "e1.xml"), el.tag, el.name)
    e2 = payload_of(os.path.join(cwd, "e2.xml"), el.tag, el.name)
    if not os.path.exists(os.path.join(cwd, "e2.xml")):
        return []  # the chain broke: reported there
    if e1 is None and (BLOCK_TYPES[el.tag], el.name) not in p1_blocks():
        # Refused by the first import (its warnings are reported with it).
        return [("refused", "the import did not store it")]
    for n, e in (("export1", e1), ("export2", e2)):
        if e is None:
            return [("roundtrip", "%s: element missing (dropped at export)" % n)]
    faults = []
    if e1[2] != e2[2]:
        faults.append(("attributes", "export1 %s / export2 %s" % (diff_text(e1[2], e2[2]))))
    if el.tag == "font":
        try:
            with open(os.path.join(cwd, e1[0]), "rb") as f1, open(os.path.join(cwd, e2[0]), "rb") as f2:
                if f1.read() != f2.read():
                    faults.append(("roundtrip", "the two exports of the font differ"))
        except OSError:
            faults.append(("roundtrip", "a font payload is missing"))
    elif fmt in ("png", "bmp") and el.tag != "file":
        key = el.key if el.kind.endswith("-ps") and el.kind != "image-ps" else -1
        argv = [runner.args.helper, "cmp", src_abs, str(key),
                os.path.join(cwd, e1[0]), str(e1[1]), os.path.join(cwd, e2[0]), str(e2[1])]
        got, out = runner.run(cwd, argv)
        # The helper's exit 1 only says that something differs.
        got = [(c, d) for c, d in got if c not in ("exit", "warning")]
        if got:
            faults += [(c, "compare helper: " + d) for c, d in got]
        elif any(not line.endswith(": same") for line in out.strip().splitlines()):
            detail = "; ".join(line.replace(cwd + "/", "") for line in out.strip().splitlines() if not line.endswith(": same"))
            faults.append(("roundtrip", "pixels: " + detail[:300]))
    else:
        with open(src_abs, "rb") as f:
            want = f.read()
        for n, e in (("export1", e1), ("export2", e2)):
            try:
                with open(os.path.join(cwd, e[0]), "rb") as f:
                    got = f.read()
            except OSError:
                faults.append(("roundtrip", "%s: payload %s missing" % (n, e[0])))
                continue
            if got != want:
                faults.append(("roundtrip", "%s: %d bytes, original %d%s" % (n, len(got), len(want),
                               "" if len(got) != len(want) else ", contents differ")))
    return faults


def diff_text(a, b):
    i = 0
    while i < min(len(a), len(b)) and a[i] == b[i]:
        i += 1
    start = a.rfind(" ", 0, i) + 1
    return a[start:start + 60], b[start:start + 60]


def sweep_one(runner, work, index, fmt, variant, path):
    cwd = os.path.join(work, "%05d" % index)
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    src = "src_" + re.sub(r"[^A-Za-z0-9._-]", "_", os.path.basename(path))
    shutil.copyfile(path, os.path.join(cwd, src))
    src_abs = os.path.join(cwd, src)
    probe = (1, 1, -1)
    faults = []  # (element kind, step, class, detail)
    if fmt in ("png", "bmp"):
        got, out = runner.run(cwd, [runner.args.helper, "probe", src])
        fields = out.split()
        if len(fields) >= 3 and fields[0].isdigit():
            probe = (int(fields[0]), int(fields[1]), int(fields[2]))
        if len(fields) != 3:
            faults.append(("-", "probe", "unreadable", "the SDK does not load this %s (%s)" % (fmt, variant)))
    els = elements_for(fmt, src, probe)
    write_doc(os.path.join(cwd, "doc.xml"), els)
    chain = runner.chain(cwd, "doc.xml")
    if chain and runner.args.ci:
        faults += [("all-together", step, cls, detail) for step, cls, detail in chain]
    elif chain:
        # Name the element kinds at fault: each element alone.
        blamed = set()
        for el in els:
            sub = os.path.join(cwd, el.kind)
            os.makedirs(sub)
            os.symlink(src_abs, os.path.join(sub, src))
            write_doc(os.path.join(sub, "doc.xml"), [el])
            for step, cls, detail in runner.chain(sub, "doc.xml"):
                faults.append((el.kind, step, cls, detail))
                blamed.add((step, cls))
        for step, cls, detail in chain:
            if (step, cls) not in blamed:
                faults.append(("all-together", step, cls, detail))
    cache = []

    def p1_blocks():
        if not cache:
            cache.append(package_blocks(runner, cwd, "p1.vlt"))
        return cache[0]

    for el in els:
        for cls, detail in roundtrip(runner, cwd, fmt, src_abs, el, p1_blocks):
            faults.append((el.kind, "roundtrip", cls, detail))
    if not runner.args.keep and not faults:
        shutil.rmtree(cwd, ignore_errors=True)
    return [e.kind for e in els], faults


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--bundlex", required=True)
    ap.add_argument("--helper", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=60)
    ap.add_argument("--ci", action="store_true")
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()
    args.bundlex, args.helper = os.path.abspath(args.bundlex), os.path.abspath(args.helper)
    root = os.path.abspath(args.dir)
    files = []
    for dirpath, _, names in os.walk(root):
        for n in names:
            p = os.path.join(dirpath, n)
            if os.path.isfile(p) and not os.path.islink(p):
                k = media_kind.kind(p)
                if k:
                    files.append((os.path.relpath(p, root), k[0], k[1]))
    files.sort()
    work = os.path.join(os.path.abspath(args.out), "work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    runner = Runner(args)
    results = [None] * len(files)
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, min(args.jobs, 2))) as pool:
        futures = {pool.submit(sweep_one, runner, work, i, f[1], f[2], os.path.join(root, f[0])): i
                   for i, f in enumerate(files)}
        done = 0
        for fut in concurrent.futures.as_completed(futures):
            results[futures[fut]] = fut.result()
            done += 1
            if not args.ci and done % 50 == 0:
                print("  %d/%d files" % (done, len(files)), file=sys.stderr, flush=True)

    package = lambda rel: rel.split(os.sep)[0] if os.sep in rel else "-"  # noqa: E731
    per_format, per_package, per_kind = collections.Counter(), collections.Counter(), collections.Counter()
    by_class = collections.defaultdict(set)
    lines = []
    for (rel, fmt, variant), (kinds, faults) in zip(files, results):
        per_format[fmt] += 1
        per_package[package(rel)] += 1
        per_kind.update(kinds)
        for kind, step, cls, detail in faults:
            by_class[cls].add((rel, kind))
            lines.append("%s\t%s\t%s\t%s\t%s\t%s\t%s" % (cls, kind, step, fmt, variant, rel, detail))
    with open(os.path.join(args.out, "faults.tsv"), "w") as f:
        f.write("class\telement\tstep\tformat\tvariant\tfile\tdetail\n" + "".join(x + "\n" for x in lines))
    out = sys.stdout
    out.write("Sweep of %s with %s\n" % (root, args.bundlex))
    out.write("Files: %d (%s)\n" % (len(files), ", ".join("%s %d" % kv for kv in sorted(per_format.items()))))
    out.write("Packages: %s\n" % ", ".join("%s %d" % kv for kv in sorted(per_package.items())))
    out.write("Elements run: %d (%s)\n" % (sum(per_kind.values()), ", ".join("%s %d" % kv for kv in sorted(per_kind.items()))))
    out.write("Faults (file, element kind) by class:\n")
    for cls in CLASSES:
        files_hit = len(set(r for r, _ in by_class.get(cls, ())))
        out.write("  %-11s %4d elements in %4d files\n" % (cls, len(by_class.get(cls, ())), files_hit))
    if lines:
        out.write("Faults, one line each (class, element, step, format, variant, file, detail):\n")
        for x in lines:
            out.write("  " + x.replace("\t", " | ") + "\n")
    out.write("Details: %s; kept work folders of faulty files under %s\n" % (os.path.join(args.out, "faults.tsv"), work))
    bad = sum(len(by_class.get(c, ())) for c in CI_CLASSES)
    if args.ci:
        out.write("%d passed, %d failed\n" % (sum(1 for _, f in results if not any(c in CI_CLASSES for _, _, c, _ in f)),
                                              sum(1 for _, f in results if any(c in CI_CLASSES for _, _, c, _ in f))))
        return 1 if bad else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
