// "SND" and "MUS" blocks: the complete audio file, byte for byte. Sounds are
// stored scrambled (mode 2); music is scrambled when its file name ends in
// 'g' or 'G' (Ogg, already compressed) and compressed otherwise.
//
// Identification by the first bytes: "RIFF"/"WAVE" WAV, "FORM" AIFF, "OggS"
// Ogg Vorbis, "Crea" VOC for sounds; for music Ogg first, then "IMPM" IT,
// "Extended Module" XM, "SCRM" at offset 44 S3M, anything else MOD. WAV,
// AIFF and Ogg data are decoded once by SDL's and SDL_mixer's loaders after
// the checks those loaders leave out; VOC files are read by the SDK's own
// walk of their blocks (VocFile.h). SDL_mixer's VOC loader sees only a file
// that walk found well formed, and only to decode it to WAV (DecodeToWav).
#include "resources/ISoundFX.h"

#include "resources/GraphicBlock.h"
#include "resources/MixerLibrary.h"
#include "resources/VocFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteReader.h"
#include "core/Endian.h"
#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"

Mix_Chunk* ISoundFX::sounds[ISoundFX::kSoundSlots] = {};
MusicEntry ISoundFX::music[ISoundFX::kMusicSlots] = {};

namespace {

using graphicblock::PackageName;
using graphicblock::PointerText;
using graphicblock::Text;

constexpr uint32_t kTagRIFF = 0x46464952;  // "RIFF" read little-endian
constexpr uint32_t kTagWAVE = 0x45564157;
constexpr uint32_t kTagFORM = 0x4D524F46;
constexpr uint32_t kTagOggS = 0x5367674F;
constexpr uint32_t kTagCrea = 0x61657243;
// Audio files larger than this cannot be a block (sizes are 32-bit) and are
// not read into memory.
constexpr uint64_t kMaxAudioFile = 0x7FFFFFFFu;


struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads the whole file; false when it cannot be opened, is too large or
// reads short.
bool ReadFileBytes(const char* file, std::vector<uint8_t>& out, bool& opened) {
    opened = false;
    Fd f;
    // A FIFO named as the sound would make a plain open wait for a writer;
    // one that is there but is no regular file counts as found and unreadable.
    f.fd = file ? files::OpenRegular(file, O_RDONLY) : -1;
    if (f.fd < 0) {
        opened = errno == EISDIR || errno == EINVAL;
        return false;
    }
    opened = true;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > kMaxAudioFile) return false;
    out.resize(static_cast<size_t>(st.st_size));
    return files::ReadUpTo(f.fd, out.data(), out.size()) == static_cast<long long>(out.size());
}

// A block name made safe as a file name in the current directory: path
// separators and drive colons cannot lead the file elsewhere.
std::string LocalFileName(const char* name) {
    std::string out = name ? name : "";
    for (char& c : out)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

void SetFormat(AudioInfo* r, const char* text) {
    std::memset(r->format, 0, sizeof r->format);
    std::memcpy(r->format, text, strnlen(text, sizeof r->format - 1));
}

// The bytes behind an information query: the block payload, or the whole
// file read into memory, with a stream over them.
struct InfoSource {
    BlockPayload block;
    std::vector<uint8_t> fileBytes;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    SDL_RWops* rw = nullptr;
    ~InfoSource() {
        if (rw) SDL_RWclose(rw);
    }
    bool OpenBlock() {
        data = block.info.data;
        size = block.info.size;
        rw = SDL_RWFromConstMem(data, static_cast<int>(size));
        return rw != nullptr;
    }
    bool OpenFile(const char* file) {
        bool opened = false;
        if (!ReadFileBytes(file, fileBytes, opened)) return false;
        data = fileBytes.data();
        size = static_cast<uint32_t>(fileBytes.size());
        rw = SDL_RWFromConstMem(data, static_cast<int>(size));
        return rw != nullptr;
    }
};

uint32_t LoadBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// SDL's WAV reader allocates every chunk it walks at its declared length and
// reads the format record from the "fmt " chunk without checking its size:
// each chunk up to "data" must lie inside the bytes, and "fmt " must hold
// the record (and an ADPCM format its extra fields).
bool WavChunksFit(const uint8_t* d, size_t n) {
    ByteReader in(d, n);
    uint32_t first = 0, second = 0, third = 0;
    if (!in.u32le(first) || !in.u32le(second)) return false;
    if (second != kTagWAVE && (!in.u32le(third) || first != kTagRIFF || third != kTagWAVE)) return false;
    bool haveFmt = false;
    for (;;) {
        uint32_t magic = 0, length = 0;
        if (!in.u32le(magic) || !in.u32le(length) || length > in.remaining()) return false;
        const uint8_t* body = in.current();
        in.skip(length);
        if (!haveFmt) {
            if (magic == 0x74636166 /* fact */ || magic == 0x5453494C /* LIST */) continue;
            if (magic != 0x20746D66 /* "fmt " */ || length < 16) return false;
            const uint16_t tag = LoadLE16(body);
            if (LoadLE16(body + 2) == 0) return false;  // no channels
            if (tag == 2) {  // MS ADPCM: cbSize, samples per block, coefficient count, coefficients
                if (length < 22 || length < 22 + 4u * LoadLE16(body + 20)) return false;
            } else if (tag == 0x11) {  // IMA ADPCM: cbSize, samples per block
                if (length < 20) return false;
            }
            haveFmt = true;
            continue;
        }
        if (magic == 0x61746164 /* data */) return true;
    }
}

// SDL_mixer's AIFF reader neither frees its buffer nor closes the stream
// when the sample data is shorter than "COMM" declares: the chunks it walks
// must be present and "SSND" must hold every sample.
bool AiffComplete(const uint8_t* d, size_t n) {
    if (n < 12) return false;
    size_t pos = 12;
    bool haveComm = false, haveSsnd = false;
    uint64_t need = 0, start = 0;
    while (!(haveComm && haveSsnd)) {
        if (n - pos < 8) return false;
        const uint32_t type = LoadLE32(d + pos);
        const uint32_t length = LoadBE32(d + pos + 4);
        if (length == 0) break;
        const size_t body = pos + 8;
        if (type == 0x444E5353 /* SSND */) {
            if (n - body < 8) return false;
            start = uint64_t(body) + 8 + LoadBE32(d + body);
            haveSsnd = true;
        } else if (type == 0x4D4D4F43 /* COMM */) {
            if (n - body < 8) return false;
            const uint64_t channels = uint64_t(d[body]) << 8 | d[body + 1];
            const uint64_t frames = LoadBE32(d + body + 2);
            const uint64_t bits = uint64_t(d[body + 6]) << 8 | d[body + 7];
            need = channels * frames * (bits / 8);
            haveComm = true;
        }
        if (uint64_t(length) > n - body) return false;
        pos = body + length;
    }
    return haveComm && haveSsnd && start <= n && need <= n - start;
}

// Decodes the whole stream with a loader and fills r. The stream is closed
// here, not by the loader, whose error paths do not always close it.
using Loader = SDL_AudioSpec* (*)(SDL_RWops*, int, SDL_AudioSpec*, Uint8**, Uint32*);
bool Decode(Loader load, InfoSource& src, AudioInfo* r) {
    SDL_AudioSpec spec;
    std::memset(&spec, 0, sizeof spec);
    Uint8* buf = nullptr;
    Uint32 len = 0;
    if (!load) return false;  // SDL_mixer could not be loaded (logged, and SDL's error says why)
    if (!load(src.rw, 0, &spec, &buf, &len)) {
        // SDL_mixer's loaders report a failure after their buffer was
        // allocated (a VOC block cut short, an AIFF read short) without
        // freeing it. SDL's WAV loader is left alone: its error paths may
        // free the buffer themselves.
        if (buf && load != SDL_LoadWAV_RW) SDL_FreeWAV(buf);
        return false;
    }
    r->channels = spec.channels;
    r->sampleFormat = spec.format;
    r->frequency = static_cast<uint32_t>(spec.freq);
    r->size = src.size;
    SDL_FreeWAV(buf);
    return true;
}

// The first four bytes as one little-endian value; 0 for shorter data.
uint32_t FirstTag(const uint8_t* d, size_t n) { return n >= 4 ? LoadLE32(d) : 0; }

// SDL_mixer's loaders, null (SDL's error says why) when the library could
// not be loaded.
Loader AiffLoader() {
    const mixer::Functions* m = mixer::Library();
    return m ? m->loadAIFF : nullptr;
}
Loader OggLoader() {
    const mixer::Functions* m = mixer::Library();
    return m ? m->loadOGG : nullptr;
}
Loader VocLoader() {
    const mixer::Functions* m = mixer::Library();
    return m ? m->loadVOC : nullptr;
}

// Chunks and music exist only where the library made them (or the caller
// loaded it): freeing them never fails for want of it.
void FreeChunk(Mix_Chunk* chunk) {
    if (const mixer::Functions* m = mixer::Library()) m->freeChunk(chunk);
}
void FreeMusic(Mix_Music* music) {
    if (const mixer::Functions* m = mixer::Library()) m->freeMusic(music);
}

}  // namespace

ISoundFX* g_pSoundFX = nullptr;

ISoundFX::ISoundFX() {
    for (auto& m : music) m = MusicEntry{};
    for (auto& s : sounds) s = nullptr;
    mixerOpen = 0;
    LogTag("ISoundFX").Line(5, "Interfaz created.\n");
}

ISoundFX::~ISoundFX() {
    int musicLeft = 0, soundsLeft = 0;
    for (int i = 0; i < kMusicSlots; ++i) {
        if (music[i].inUse) {
            Free(i, 0);
            ++musicLeft;
        }
    }
    for (int i = 0; i < kSoundSlots; ++i) {
        if (sounds[i]) {
            FreeChunk(sounds[i]);
            sounds[i] = nullptr;
            ++soundsLeft;
        }
    }
    if (mixerOpen) {
        if (const mixer::Functions* m = mixer::Library()) m->closeAudio();
        mixerOpen = 0;
    }
    const LogTag tag("ISoundFX");
    if (soundsLeft) tag.Line(2, "Warning! your application has left %d sounds without deleting.", soundsLeft);
    if (musicLeft) tag.Line(2, "Warning! your application has left %d music without deleting.", musicLeft);
    tag.Line(5, "Interfaz deleted.\n");
}

int ISoundFX::Import(int id, const char* name, const char* file, bool isMusic) {
    if (id < 1) return 0;
    std::vector<uint8_t> bytes;
    bool opened = false;
    const LogTag tag("ISoundFX->%s('%s','%s','%s')", isMusic ? "MusicImport" : "SoundImport", PackageName(id),
                     Text(name), Text(file));
    if (!ReadFileBytes(file, bytes, opened)) {
        if (!opened) {
            if (isMusic)
                LogTag("ISoundFX->MusicImport('%s','%s','%s')", PackageName(id), Text(name), Text(file))
                    .Error("music not found.\n");
            else
                LogTag("ISoundFX->SoundImport('%s','%s','%s'", PackageName(id), Text(name), Text(file))
                    .Error("sound not found.\n");
        } else {
            tag.Error("file could not be read.\n");
        }
        return 0;
    }
    return ImportData(id, name, file, bytes, isMusic);
}

int ISoundFX::ImportData(int id, const char* name, const char* file, const std::vector<uint8_t>& bytes, bool isMusic) {
    if (id < 1 || !file) return 0;
    const LogTag tag("ISoundFX->%s('%s','%s','%s')", isMusic ? "MusicImport" : "SoundImport", PackageName(id),
                     Text(name), Text(file));
    if (bytes.size() > 0xFFFFFFFFull) return tag.Fail(0, "file holds more than a block can.\n");
    BlockInfo bi{};
    if (!name || std::strlen(name) >= sizeof bi.name) {
        // Cut to 31 characters it would be stored under another block's name.
        tag.Error("block name is empty or longer than 31 characters.\n");
        return 0;
    }
    std::strncpy(bi.name, name, sizeof bi.name - 1);
    std::strncpy(bi.type, isMusic ? "MUS" : "SND", sizeof bi.type - 1);
    bi.mode = crypted;
    if (isMusic) {
        const size_t len = std::strlen(file);
        const char last = len ? file[len - 1] : '\0';
        bi.mode = (last == 'g' || last == 'G') ? crypted : compressed;
    }
    bi.size = static_cast<uint32_t>(bytes.size());
    uint8_t none = 0;  // an empty file still hands over a valid pointer
    bi.data = bytes.empty() ? &none : const_cast<uint8_t*>(bytes.data());
    return g_pStuffVLT ? g_pStuffVLT->AddData(id, &bi) : 0;
}

int ISoundFX::SoundImport(int id, const char* name, const char* file) { return Import(id, name, file, false); }
int ISoundFX::MusicImport(int id, const char* name, const char* file) { return Import(id, name, file, true); }

bool ISoundFX::Export(int id, const char* name, uint8_t isMusic, const char* output) {
    if (id < 1) return false;
    BlockPayload block;
    const LogTag tag("ISoundFX->Export('%s','%s',%d,'%s')", PackageName(id), Text(name), isMusic, Text(output));
    if (block.Load(id, isMusic ? "MUS" : "SND", name) == 0 || !block.info.data) {
        // An empty block loads with result 0 as well; it holds no audio file.
        tag.Error("sound block not found.\n");
        return false;
    }
    std::string path;
    bool derived = false;
    if (output && *output) {
        path = output;
    } else {
        // Without an output name the file takes the block's name and the
        // format found in it: decoded, else named by its first bytes; when
        // those name no format the block type stands in, so the file is
        // still named after what it came from.
        AudioInfo r;
        std::memset(&r, 0, sizeof r);
        const bool known = isMusic ? MusicInfo(id, name, &r) : SoundInfo(id, name, &r);
        const char* head = FormatOfHead(block.info.data, block.info.size, isMusic);
        const std::string ext = known && r.format[0] ? std::string(r.format)
                                : head               ? std::string(head)
                                                     : std::string(isMusic ? "MUS" : "SND");
        path = LocalFileName(name) + "." + ext;
        derived = true;
    }
    Trovalis.CreatePath(path.c_str());
    // A name the caller did not give never replaces an existing file.
    // A given name is replaced, but never written through a link planted
    // there (FileAccess.h).
    Fd f;
    f.fd = derived ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)
                   : files::OpenForWriting(path.c_str(), 0644);
    if (f.fd < 0) return tag.Fail(false, "file '%s' could not be created.\n", path.c_str());
    bool ok = files::WriteAll(f.fd, block.info.data, block.info.size);
    const int closed = ::close(f.fd);
    f.fd = -1;
    ok = ok && closed == 0;
    if (!ok) {
        ::unlink(path.c_str());
        tag.Error("file '%s' could not be written.\n", path.c_str());
    }
    return ok;
}

bool ISoundFX::SoundInfo(int id, const char* name, AudioInfo* r) {
    if (!r) return false;
    InfoSource src;
    const LogTag tag("ISoundFX->SoundInfo('%s','%s',0x%x", PackageName(id), Text(name), PointerText(r));
    if (id != 0) {
        if (id < 1) return false;
        if (src.block.Load(id, "SND", name) == 0 || !src.block.info.data) return tag.Fail(false, "sound not found.\n");
        if (!src.OpenBlock()) return tag.Fail(false, "sound load failed.\n");
    } else if (!src.OpenFile(name)) {
        LogTag("ISoundFX->SoundInfo('%s','%s',0x%x", "none", Text(name), PointerText(r)).Error("sound load failed.\n");
        return false;
    }
    const char* text = FormatOfHead(src.data, src.size, 0);
    if (!text) {
        LogTag("ISoundFX->SoundInfo('%s','%s',0x%x", id ? PackageName(id) : "none", Text(name), PointerText(r))
            .Error("sound format unknown.\n");
        return false;
    }
    SetFormat(r, text);
    if (std::strcmp(text, "VOC") == 0) {
        // Read from the blocks, never by SDL_mixer's VOC loader (VocFile.h).
        vocfile::Format voc;
        const char* why = nullptr;
        if (!vocfile::ReadFormat(src.data, src.size, voc, why)) {
            SDL_SetError("Damaged VOC data: %s", why);
            return false;
        }
        r->channels = voc.channels;
        r->sampleFormat = voc.sampleFormat;
        r->frequency = voc.frequency;
        r->size = src.size;
        return true;
    }
    Loader load = OggLoader();
    bool sound = true;  // the checks the loader leaves out
    if (std::strcmp(text, "WAV") == 0) {
        load = SDL_LoadWAV_RW;
        sound = WavChunksFit(src.data, src.size);
    } else if (std::strcmp(text, "AIFF") == 0) {
        load = AiffLoader();
        sound = AiffComplete(src.data, src.size);
    }
    if (!sound) {
        SDL_SetError("Damaged %s data", text);
        return false;
    }
    return Decode(load, src, r);
}

bool ISoundFX::MusicInfo(int id, const char* name, AudioInfo* r) {
    if (!r) return false;
    InfoSource src;
    const LogTag tag("ISoundFX->MusicInfo('%s','%s',0x%x)", PackageName(id), Text(name), PointerText(r));
    if (id != 0) {
        if (src.block.Load(id, "MUS", name) == 0 || !src.block.info.data) return tag.Fail(false, "music not found.\n");
        if (!src.OpenBlock()) return tag.Fail(false, "music load failed.\n");
    } else if (!src.OpenFile(name)) {
        LogTag("ISoundFX->MusicInfo('%s','%s',0x%x)", "none", Text(name), PointerText(r)).Error("music load failed.\n");
        return false;
    }
    const char* text = FormatOfHead(src.data, src.size, 1);
    if (std::strcmp(text, "OGG") == 0) {
        SetFormat(r, text);
        return Decode(OggLoader(), src, r);
    }
    SetFormat(r, text);
    r->channels = 0;
    r->sampleFormat = 0;
    r->frequency = 0;
    r->size = src.size;
    return true;
}

bool ISoundFX::Identify(int id, const char* name, uint8_t music, AudioInfo* r) {
    if (!r || id < 1) return false;
    BlockPayload block;
    if (block.Load(id, music ? "MUS" : "SND", name) == 0 || !block.info.data) {
        LogTag("ISoundFX->Identify('%s','%s',%d,0x%x)", PackageName(id), Text(name), music, PointerText(r))
            .Error("%s block not found.\n", music ? "music" : "sound");
        return false;
    }
    const char* text = FormatOfHead(block.info.data, block.info.size, music);
    SetFormat(r, text ? text : "");
    r->channels = 0;
    r->sampleFormat = 0;
    r->frequency = 0;
    r->size = block.info.size;
    return true;
}

const char* ISoundFX::FormatOfHead(const uint8_t* d, size_t n, uint8_t music) {
    const uint32_t tag = d ? FirstTag(d, n) : 0;
    if (tag == kTagOggS) return "OGG";
    if (music) {
        // Tracker modules are named from their headers; data shorter than a
        // header simply matches none of them.
        if (n >= 4 && std::memcmp(d, "IMPM", 4) == 0) return "IT";
        if (n >= 15 && std::memcmp(d, "Extended Module", 15) == 0) return "XM";
        if (n >= 48 && std::memcmp(d + 44, "SCRM", 4) == 0) return "S3M";
        return "MOD";
    }
    if (tag == kTagRIFF || tag == kTagWAVE) return "WAV";
    if (tag == kTagFORM) return "AIFF";
    if (tag == kTagCrea) return "VOC";
    return nullptr;
}

namespace {

// The samples that a WAV format record names.
std::string WavSamples(uint16_t tag, uint16_t bits) {
    switch (tag) {
        case 1: return std::to_string(bits) + "-bit PCM samples";
        case 2: return "MS ADPCM samples";
        case 3: return std::to_string(bits) + "-bit float samples";
        case 6: return "A-law samples";
        case 7: return "u-law samples";
        case 0x11: return "IMA ADPCM samples";
        case 0x55: return "MPEG layer 3 data";
        case 0x674F:
        case 0x6750:
        case 0x6751:
        case 0x6752:
        case 0x6770:
        case 0x6771: return "Ogg Vorbis data";
        default: {
            char text[48];
            std::snprintf(text, sizeof text, "samples of format 0x%04X", static_cast<unsigned>(tag));
            return text;
        }
    }
}

std::string DescribeWav(const uint8_t* d, size_t n) {
    ByteReader in(d, n);
    uint32_t first = 0, second = 0, third = 0;
    if (!in.u32le(first) || !in.u32le(second)) return "a damaged WAV file";
    if (second != kTagWAVE && (!in.u32le(third) || third != kTagWAVE)) return "a RIFF file that is not a WAV file";
    for (;;) {
        uint32_t magic = 0, length = 0;
        if (!in.u32le(magic) || !in.u32le(length)) return "a WAV file without a format record";
        const uint8_t* body = in.current();
        if (magic == 0x20746D66 /* "fmt " */) {
            if (length < 16 || length > in.remaining()) return "a WAV file with a damaged format record";
            uint16_t tag = LoadLE16(body);
            const uint16_t bits = LoadLE16(body + 14);
            // WAVE_FORMAT_EXTENSIBLE: the real format opens its sub-format.
            if (tag == 0xFFFE && length >= 26) tag = LoadLE16(body + 24);
            return "a WAV file of " + WavSamples(tag, bits);
        }
        if (length > in.remaining()) return "a WAV file without a format record";
        in.skip(length);
        if (length & 1) in.skip(1);
    }
}

std::string DescribeAiff(const uint8_t* d, size_t n) {
    if (n < 12) return "a damaged AIFF file";
    if (std::memcmp(d + 8, "AIFC", 4) != 0) return "an AIFF file";
    // The compression type follows the 18 bytes of the common fields.
    for (size_t pos = 12; pos + 8 <= n;) {
        const uint32_t length = LoadBE32(d + pos + 4);
        if (std::memcmp(d + pos, "COMM", 4) == 0) {
            if (length < 22 || n - pos - 8 < 22) break;
            std::string type;
            for (size_t i = 0; i < 4; ++i) {
                const uint8_t c = d[pos + 8 + 18 + i];
                type += (c >= 32 && c < 127) ? char(c) : '?';
            }
            return "an AIFF-C file ('" + type + "' compression)";
        }
        if (length > n - pos - 8) break;
        pos += 8 + size_t(length) + (length & 1);
    }
    return "an AIFF-C file";
}

}  // namespace

std::string ISoundFX::Describe(const uint8_t* d, size_t n, uint8_t music) {
    if (!d || n == 0) return "an empty file";
    const char* format = FormatOfHead(d, n, music);
    if (!format) return "data in no audio format the SDK knows";
    const std::string f = format;
    if (f == "OGG") return "an Ogg stream";
    if (music) return f == "MOD" ? "a MOD module, or data in no format the SDK knows" : "an " + f + " module";
    if (f == "WAV") return DescribeWav(d, n);
    if (f == "AIFF") return DescribeAiff(d, n);
    return "a VOC file";
}

void ISoundFX::Free(int index, int kind) {
    if (kind != 0) {
        if (index < 0 || index >= kSoundSlots) return;
        if (sounds[index]) {
            FreeChunk(sounds[index]);
            sounds[index] = nullptr;
        }
        return;
    }
    if (index < 0 || index >= kMusicSlots) return;
    MusicEntry& e = music[index];
    if (!e.inUse) return;
    if (e.source == 0) {
        if (e.music) FreeMusic(e.music);
    } else {
        if (e.loaded == 1 && e.music) FreeMusic(e.music);
        e.loaded = 0;
        if (e.stream) SDL_FreeRW(e.stream);
        SDL_free(e.buffer);
        e.buffer = nullptr;
        e.source = 0;
    }
    e.inUse = 0;
    e.music = nullptr;
    e.stream = nullptr;
}

bool ISoundFX::DecodeToWav(int id, const char* name, std::vector<uint8_t>& wav) {
    wav.clear();
    if (id < 1) return false;
    InfoSource src;
    const LogTag tag("ISoundFX->DecodeToWav('%s','%s')", PackageName(id), Text(name));
    if (src.block.Load(id, "SND", name) == 0 || !src.block.info.data || !src.OpenBlock())
        return tag.Fail(false, "sound not found.\n");
    const char* text = FormatOfHead(src.data, src.size, 0);
    Loader load = nullptr;
    bool isVoc = false;
    vocfile::Format voc;
    if (text && std::strcmp(text, "AIFF") == 0 && AiffComplete(src.data, src.size)) {
        load = AiffLoader();
        if (!load) return tag.Fail(false, "%s.\n", SDL_GetError());
    } else if (text && std::strcmp(text, "VOC") == 0) {
        // SDL_mixer's VOC loader trusts every block (VocFile.h): it is given
        // only a file that the SDK's own walk found to be one it reads as
        // meant, and its result must have the length that walk expects.
        const char* why = nullptr;
        if (vocfile::ReadFormat(src.data, src.size, voc, why)) {
            load = VocLoader();
            if (!load) return tag.Fail(false, "%s.\n", SDL_GetError());
            isVoc = true;
        }
    }
    if (!load) return tag.Fail(false, "sound is neither a complete AIFF nor a well-formed VOC file.\n");
    SDL_AudioSpec spec;
    std::memset(&spec, 0, sizeof spec);
    Uint8* buf = nullptr;
    Uint32 len = 0;
    if (!load(src.rw, 0, &spec, &buf, &len)) {
        if (buf) SDL_FreeWAV(buf);
        tag.Error("sound could not be decoded.\n");
        return false;
    }
    std::unique_ptr<Uint8, void (*)(Uint8*)> samples(buf, SDL_FreeWAV);
    if (isVoc && len != voc.decodedBytes)
        return tag.Fail(false, "sound decodes to %u bytes where its blocks hold %llu.\n", len,
                        static_cast<unsigned long long>(voc.decodedBytes));
    const unsigned bits = (spec.format & 0xFF);
    const bool known = spec.format == AUDIO_U8 || spec.format == AUDIO_S8 || spec.format == AUDIO_S16LSB ||
                       spec.format == AUDIO_S16MSB;
    const unsigned frameBytes = spec.channels * (bits / 8);
    if (!known || spec.channels < 1 || spec.freq < 1 || frameBytes == 0 || len % frameBytes != 0 ||
        len > 0x7FFFFFFFu - 44) {
        tag.Error("sound decodes to a sample format that WAV cannot hold.\n");
        return false;
    }
    wav.resize(44 + size_t(len));
    uint8_t* h = wav.data();
    std::memcpy(h, "RIFF", 4);
    StoreLE32(h + 4, 36 + len);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreLE32(h + 16, 16);
    StoreLE16(h + 20, 1);  // PCM
    StoreLE16(h + 22, spec.channels);
    StoreLE32(h + 24, static_cast<uint32_t>(spec.freq));
    StoreLE32(h + 28, static_cast<uint32_t>(spec.freq) * frameBytes);
    StoreLE16(h + 32, static_cast<uint16_t>(frameBytes));
    StoreLE16(h + 34, static_cast<uint16_t>(bits));
    std::memcpy(h + 36, "data", 4);
    StoreLE32(h + 40, len);
    uint8_t* out = h + 44;
    const uint8_t* in = samples.get();
    // WAV holds 8-bit samples unsigned and 16-bit ones little-endian.
    for (Uint32 i = 0; i < len; ++i) {
        if (spec.format == AUDIO_S8)
            out[i] = in[i] ^ 0x80;
        else if (spec.format == AUDIO_S16MSB)
            out[i] = in[i ^ 1];
        else
            out[i] = in[i];
    }
    return true;
}

const char* ISoundFX::MusicContainer(const uint8_t* d, size_t n) {
    if (d && n >= 4 && std::memcmp(d, "MThd", 4) == 0) return "MIDI";
    return FormatOfHead(d, n, 1);
}

namespace {

// Printable bytes up to the first NUL, others as "?", trailing blanks dropped.
std::string TitleText(const uint8_t* d, size_t n) {
    std::string title;
    for (size_t i = 0; i < n && d[i] != 0; ++i) title += static_cast<char>(d[i] >= 0x20 && d[i] < 0x7F ? d[i] : '?');
    while (!title.empty() && title.back() == ' ') title.pop_back();
    return title;
}

}  // namespace

std::string ISoundFX::MusicTitleOfHead(const uint8_t* d, size_t n) {
    if (!d) return std::string();
    const char* format = MusicContainer(d, n);
    if (std::strcmp(format, "MIDI") == 0) {
        // "MThd", u32 BE header length, the header; then "MTrk", u32 BE
        // length, events. A name is the event 00 FF 03 <length> <text> that
        // opens the track (one-byte lengths only: names are short).
        if (n < 8) return std::string();
        const uint64_t track = 8 + uint64_t(LoadBE32(d + 4));
        if (track + 12 > n || std::memcmp(d + track, "MTrk", 4) != 0) return std::string();
        const uint8_t* e = d + track + 8;
        if (e[0] != 0x00 || e[1] != 0xFF || e[2] != 0x03 || e[3] >= 0x80) return std::string();
        const size_t len = e[3];
        if (track + 12 + len > n) return std::string();
        return TitleText(e + 4, len);
    }
    // Where each module format keeps its title, and how long the field is.
    size_t at = 0, field = 0;
    if (std::strcmp(format, "IT") == 0)
        at = 4, field = 26;
    else if (std::strcmp(format, "XM") == 0)
        at = 17, field = 20;
    else if (std::strcmp(format, "S3M") == 0)
        at = 0, field = 28;
    else if (std::strcmp(format, "MOD") == 0)
        at = 0, field = 20;
    else
        return std::string();
    if (n < at + field) return std::string();
    return TitleText(d + at, field);
}

bool ISoundFX::MusicTitle(int id, const char* name, std::string& title, std::string& container) {
    title.clear();
    container.clear();
    if (id < 1) return false;
    BlockPayload block;
    if (block.Load(id, "MUS", name) == 0 || !block.info.data) {
        LogTag("ISoundFX->MusicTitle('%s','%s')", PackageName(id), Text(name)).Error("music block not found.\n");
        return false;
    }
    container = MusicContainer(block.info.data, block.info.size);
    title = MusicTitleOfHead(block.info.data, block.info.size);
    return true;
}
