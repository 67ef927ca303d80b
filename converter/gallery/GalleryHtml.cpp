// The text of a gallery page around its resources: the escaping of package
// texts, the head with its style and the summary, and the one script (sprite
// playback and the filter box). The page loads nothing from the network: the
// content security policy allows files, inline style and the page's own one
// script, named by its SHA-256.
#include <nettle/base64.h>
#include <nettle/sha2.h>

#include <cstdio>
#include <cstring>

#include "Gallery.h"
#include "JsonWriter.h"

namespace gallery {

namespace {

constexpr const char* kGenerator = "<meta name=\"generator\" content=\"bundlex --gallery\">";

constexpr const char* kStyle = R"(
body{font:14px/1.4 sans-serif;margin:0 1em 2em;color:#222;background:#f4f4f4}
header{position:sticky;top:0;background:#f4f4f4;padding:.5em 0;border-bottom:1px solid #ccc;z-index:1}
h1{font-size:1.3em;margin:.2em 0}h2{font-size:1.1em;margin:1.2em 0 .4em}
.facts span{margin-right:1em;white-space:nowrap}
.res{display:inline-block;vertical-align:top;margin:.4em;padding:.5em;background:#fff;border:1px solid #ddd;max-width:100%;box-sizing:border-box;content-visibility:auto;contain-intrinsic-size:auto 240px auto 160px}
.res h3{font-size:1em;margin:0 0 .3em;word-break:break-all}
.res.wide{display:block}
.meta{color:#555;font-size:.9em}
.failed{border-color:#c00;color:#900}
.chk{background:repeating-conic-gradient(#ccc 0 25%,#fff 0 50%) 0 0/16px 16px}
img.pic{max-width:256px;max-height:256px;width:auto;height:auto;display:block}
.cut{display:block;background-image:var(--src),repeating-conic-gradient(#ccc 0 25%,#fff 0 50%);background-size:auto,16px 16px;background-position:var(--p),0 0;background-repeat:no-repeat,repeat}
.cells{display:flex;flex-wrap:wrap;gap:4px}
.cell{display:inline-flex;flex-direction:column;align-items:center;font-size:.8em;color:#555}
.states{display:flex;gap:8px;align-items:flex-end}
pre{font-size:.85em;background:#f8f8f8;padding:.3em;max-width:60em;white-space:pre-wrap;word-break:break-all}
table{border-collapse:collapse}td,th{padding:0 .6em;text-align:left}
[hidden]{display:none!important}
)";

// Sprite playback (each animation row at its own frame timings, one pause
// control for all) and the filter by name and kind. Without scripts every
// row shows its first frame and the frame strips stay.
constexpr const char* kScript = R"(
(function(){
var paused=false,b=document.createElement('button');
b.type='button';b.id='pause';b.textContent='Pause animations';
b.onclick=function(){paused=!paused;b.textContent=paused?'Play animations':'Pause animations';};
document.getElementById('controls').appendChild(b);
document.querySelectorAll('.anim').forEach(function(a){
var ms=a.dataset.ms?a.dataset.ms.split(',').map(Number):[],fw=+a.dataset.fw,y=+a.dataset.y,i=0,c=a.querySelector('.cut');
if(ms.length<2||!c)return;
function step(){if(!paused){i=(i+1)%ms.length;c.style.setProperty('--p',(-i*fw)+'px '+(-y)+'px');}
setTimeout(step,Math.max(16,ms[i]||100));}
setTimeout(step,Math.max(16,ms[0]||100));});
var f=document.getElementById('filter'),k=document.getElementById('kind');
function apply(){var t=f.value.toLowerCase(),kv=k.value;
document.querySelectorAll('main [data-kind]').forEach(function(e){
e.hidden=!((!kv||e.dataset.kind===kv)&&(!t||e.dataset.name.toLowerCase().indexOf(t)>=0));});}
f.oninput=apply;k.onchange=apply;
})();
)";

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Number(uint64_t v) { return std::to_string(v); }

// The script's source as the policy names it: 'sha256-' and its digest in
// base64.
std::string ScriptSource() {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, std::strlen(kScript), reinterpret_cast<const uint8_t*>(kScript));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    char text[BASE64_ENCODE_RAW_LENGTH(SHA256_DIGEST_SIZE) + 1] = {};
    base64_encode_raw(text, sizeof digest, digest);
    return "'sha256-" + std::string(text) + "'";
}

}  // namespace

std::string Html(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 16);
    size_t i = 0;
    char ref[16];
    while (i < bytes.size()) {
        const uint8_t c = static_cast<uint8_t>(bytes[i]);
        if (c >= 0x80) {
            uint32_t cp = 0;
            const size_t len = json::Utf8SequenceAt(bytes, i, cp);
            if (len > 0) {
                out.append(bytes, i, len);
                i += len;
            } else {
                AppendUtf8(out, c);  // a Latin-1 reading of a stray byte
                ++i;
            }
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    std::snprintf(ref, sizeof ref, "&#x%X;", static_cast<unsigned>(c));
                    out += ref;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out;
}

std::string Url(const std::string& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : bytes) {
        const uint8_t c = static_cast<uint8_t>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            (c != 0 && std::strchr("-._~/", c))) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool IsGalleryPage(const std::string& head) { return head.find(kGenerator) != std::string::npos; }

std::string PageStart(const Summary& s) {
    std::string name = s.package;
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += kGenerator;
    h += "\n<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
         "media-src 'self' file:; style-src 'unsafe-inline'; script-src " +
         ScriptSource() + "\">\n";
    h += "<meta name=\"viewport\" content=\"width=device-width\">\n<title>" + Html(name) + " - gallery</title>\n";
    h += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n<header>\n";
    h += "<h1>" + Html(name) + "</h1>\n<div class=\"facts\">";
    h += "<span>package version " + Html(s.version) + "</span>";
    h += "<span>" + Number(s.fileSize) + " bytes</span>";
    h += "<span>" + Number(uint64_t(s.live)) + " live entries</span>";
    h += "<span>" + Number(uint64_t(s.deleted)) + " deleted</span>";
    h += "<span>payloads " + Number(s.size) + " bytes, " + Number(s.packed) + " packed</span></div>\n";
    h += "<div class=\"facts\">";
    for (const auto& k : s.kinds) h += "<span>" + Html(k.first) + ": " + Number(uint64_t(k.second)) + "</span>";
    h += "</div>\n<div id=\"controls\"><label>Filter <input id=\"filter\" type=\"search\" "
         "placeholder=\"name\"></label> <select id=\"kind\"><option value=\"\">every kind</option>";
    for (const char* k : {"image", "tile", "sprite", "font", "sound", "music", "file", "widget"})
        h += std::string("<option>") + k + "</option>";
    h += "</select> </div>\n</header>\n<main>\n";
    return h;
}

std::string PageEnd() { return std::string("</main>\n<script>") + kScript + "</script>\n</body>\n</html>\n"; }

}  // namespace gallery
