#!/usr/bin/env python3
"""The gallery page read back from a real browser.

Builds a package of every kind (the bundled example, plus AIFF and VOC
sounds, Ogg music and resources named to break HTML and URLs), writes its
gallery with the bundlex under test, opens the page from disk in headless
Chromium through chromedriver (the W3C WebDriver protocol over urllib) and
asks the page: every picture decodes, every player has a duration, each
sprite shows as many frames as its block's table holds, each font table has
96 entries, no name became markup, every link stays on disk, and the browser
logged no error. Keeps a screenshot (--screenshot copies it elsewhere).

Waits are bounded by a number of tries, never by a deadline.
"""
import argparse
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.request
import xml.etree.ElementTree as ET

HOSTILE = ['<i id=pwn>x</i>', 'q"u\'o&te %41 #h ?q /p', 'caf\u00e9 \u00fc\u00df']


def build_package(source, work, bundlex):
    pkg = os.path.join(work, 'pkg')
    shutil.copytree(os.path.join(source, 'examples'), pkg)
    sounds = os.path.join(source, 'tests', 'data', 'sounds')
    for f in ('tone_11025_mono16.aiff', 'tone_8000_mono8.voc', 'tone_22050_stereo.ogg'):
        shutil.copy(os.path.join(sounds, f), os.path.join(pkg, 'demo', f))
    tree = ET.parse(os.path.join(pkg, 'demo.xml'))
    root = tree.getroot()
    extra = [('sound', {'name': 'aiff tone', 'source': 'demo/tone_11025_mono16.aiff'}),
             ('sound', {'name': 'voc tone', 'source': 'demo/tone_8000_mono8.voc'}),
             ('music', {'name': 'ogg theme', 'source': 'demo/tone_22050_stereo.ogg'})]
    for name in HOSTILE:
        extra.append(('image', {'name': name, 'source': 'demo/img_logo.png', 'alphablending': 'per-pixel'}))
        extra.append(('file', {'name': name, 'source': 'demo/file_config', 'storemethod': 'raw'}))
    # Resources go before the panel of widgets, as an export writes them.
    at = next(i for i, e in enumerate(root) if e.tag == 'panel')
    for i, (tag, attrs) in enumerate(extra):
        root.insert(at + i, ET.Element(tag, attrs))
    root.set('totalblocks', str(int(root.get('totalblocks')) + len(extra)))
    tree.write(os.path.join(pkg, 'every.xml'), encoding='UTF-8', xml_declaration=True)
    run([bundlex, 'every.xml', 'every.vlt'], pkg)
    return pkg


def run(args, cwd):
    p = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if p.returncode != 0:
        sys.exit('%s failed (%d):\n%s' % (' '.join(args), p.returncode, p.stdout.decode(errors='replace')))
    return p.stdout


class Driver:
    def __init__(self, work):
        s = socket.socket()
        s.bind(('127.0.0.1', 0))
        self.port = s.getsockname()[1]
        s.close()
        self.proc = subprocess.Popen(['chromedriver', '--port=%d' % self.port],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Bounded only against a driver that never starts (two minutes).
        for _ in range(2400):
            try:
                if self.call('GET', '/status').get('ready'):
                    break
            except OSError:
                pass
            time.sleep(0.05)
        args = ['--headless=new', '--disable-gpu', '--disable-dev-shm-usage', '--window-size=1200,1500',
                '--hide-scrollbars',
                '--user-data-dir=' + os.path.join(work, 'profile')]
        if os.geteuid() == 0:
            args.append('--no-sandbox')
        options = {'args': args}
        if os.path.exists('/usr/bin/chromium'):
            options['binary'] = '/usr/bin/chromium'
        caps = {'capabilities': {'alwaysMatch': {'browserName': 'chrome', 'goog:chromeOptions': options,
                                                 'goog:loggingPrefs': {'browser': 'ALL'}}}}
        self.session = self.call('POST', '/session', caps)['sessionId']

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request('http://127.0.0.1:%d%s' % (self.port, path), data=data, method=method,
                                     headers={'Content-Type': 'application/json'})
        with urllib.request.urlopen(req, timeout=120) as r:
            return json.loads(r.read().decode())['value']

    def do(self, method, path, body=None):
        return self.call(method, '/session/%s%s' % (self.session, path), body)

    def js(self, script):
        return self.do('POST', '/execute/sync', {'script': script, 'args': []})

    def quit(self):
        try:
            self.do('DELETE', '')
        finally:
            self.proc.terminate()
            self.proc.wait()


# Lazy pictures are asked for at once, so that every one can be judged.
# The sheets that tiles, frames and glyphs are cut from are decoded as
# pictures of their own.
LOAD = "document.querySelectorAll('img').forEach(function(i){i.loading='eager';});" \
       "document.querySelectorAll('audio').forEach(function(a){a.preload='auto';a.load();});" \
       "window.sheets=[...document.querySelectorAll('[style*=\\'--src\\']')].map(function(e){" \
       "var i=new Image();i.src=e.style.getPropertyValue('--src').trim().slice(4,-1);return i;});"
READY = "return [...document.images].every(i=>i.complete) && window.sheets.every(i=>i.complete) && " \
        "[...document.querySelectorAll('audio')].every(a=>a.readyState>=1||a.error);"
COLLECT = r"""
const out = {imgs: [], audios: [], sprites: [], fonts: [], names: [], links: []};
document.querySelectorAll('img').forEach(i => out.imgs.push([i.getAttribute('src'), i.naturalWidth]));
window.sheets.forEach(i => out.imgs.push([i.src, i.naturalWidth]));
document.querySelectorAll('audio').forEach(a => out.audios.push([a.getAttribute('src'), a.readyState,
    a.duration, a.error ? a.error.code : 0]));
document.querySelectorAll('[data-kind=sprite]').forEach(e => out.sprites.push([e.dataset.name,
    +e.dataset.frames, e.querySelectorAll('.frame').length]));
document.querySelectorAll('[data-kind=font]').forEach(e => out.fonts.push([e.dataset.name,
    +e.dataset.glyphs, e.querySelectorAll('.glyph').length]));
document.querySelectorAll('[data-name]').forEach(e => out.names.push(e.dataset.name));
document.querySelectorAll('[src],[href]').forEach(e => out.links.push(e.getAttribute('src') || e.getAttribute('href')));
window.sheets.forEach(i => out.links.push(i.getAttribute('src')));
out.markup = document.querySelectorAll('#pwn, main i:not(.cut)').length;
return out;
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--bundlex', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--screenshot', help='also copy the screenshot here')
    a = ap.parse_args()
    for tool in ('chromedriver', 'chromium'):
        if not shutil.which(tool):
            sys.exit('%s is not installed (scripts/setup.sh installs it)' % tool)
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    pkg = build_package(a.source, a.work, a.bundlex)
    run([a.bundlex, '--gallery', 'every.vlt'], pkg)
    listing = json.loads(run([a.bundlex, '--list', 'every.vlt', '--json'], pkg))
    entries = [e for e in listing['entries'] if not e['is_deleted']]
    frames = {e['name']: e['properties'].get('frames') for e in entries if e['type'] == 'SPR2'}

    faults = []
    d = Driver(a.work)
    try:
        d.do('POST', '/url', {'url': 'file://' + os.path.join(pkg, 'every.html')})
        d.js(LOAD)
        # Bounded only against a page that never gets ready (two minutes).
        for _ in range(2400):
            if d.js(READY):
                break
            time.sleep(0.05)
        got = d.js(COLLECT)
        try:
            logs = d.do('POST', '/se/log', {'type': 'browser'})
        except OSError:
            logs = d.call('POST', '/session/%s/log' % d.session, {'type': 'browser'})
        shot = base64.b64decode(d.do('GET', '/screenshot'))
    finally:
        d.quit()
    with open(os.path.join(a.work, 'gallery.png'), 'wb') as f:
        f.write(shot)
    if a.screenshot:
        shutil.copy(os.path.join(a.work, 'gallery.png'), a.screenshot)

    faults += ['picture %s does not decode' % s for s, w in got['imgs'] if not w > 0]
    faults += ['player %s: readyState %s, duration %s, error %s' % tuple(x) for x in got['audios']
               if not (x[1] >= 1 and x[2] and x[2] > 0)]
    if len(got['audios']) != 4:
        faults.append('%d players instead of 4 (WAV, AIFF, VOC, Ogg)' % len(got['audios']))
    for name, data, shown in got['sprites']:
        if not data == shown == frames.get(name):
            faults.append('sprite %s: data-frames %s, %s frames shown, table %s' % (name, data, shown, frames.get(name)))
    if not got['sprites'] or not got['fonts']:
        faults.append('no sprite or no font on the page')
    for name, data, shown in got['fonts']:
        if not data == shown == 96:
            faults.append('font %s: data-glyphs %s, %s entries shown' % (name, data, shown))
    if got['markup']:
        faults.append('a block name became markup')
    for name in HOSTILE:
        if got['names'].count(name) != 2:
            faults.append('name %r shown %d times instead of 2' % (name, got['names'].count(name)))
    faults += ['link %s leaves the disk' % l for l in got['links'] if ':' in l or l.startswith('/')]
    faults += ['browser: %s' % e['message'] for e in logs if e.get('level') == 'SEVERE']
    print('%d pictures, %d players, %d sprites, %d fonts, %d named elements checked' % (
        len(got['imgs']), len(got['audios']), len(got['sprites']), len(got['fonts']), len(got['names'])))
    for f in faults:
        print('FAULT:', f)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
