#include "Audio.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "SafeText.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "package/IStuffVLT.h"
#include "resources/ISoundFX.h"

namespace audio {

using namespace exportstep;
using namespace importstep;
using gallery::N;

namespace {

// The format text names the payload's extension; only the SDK's own short
// alphanumeric texts are accepted.
bool UsableFormat(const std::string& f) {
    if (f.empty() || f.size() > 8) return false;
    for (char c : f)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

// A sound or music block holds the user's own file. One that the SDK cannot
// decode (u-law or float samples, AIFF-C, a VOC that SDL_mixer would
// misread, or no audio format at all) is still written out byte for byte,
// named by what its first bytes say, or ".bin" when they name nothing; the
// import said so when it stored it, and --verify says what it is. Only a
// block that does not load is not exported.
}  // namespace

bool Export(ExportSession& s, const std::string& n, bool music) {
    const orb::KindSpec& kind = music ? orb::kMusicKind : orb::kSoundKind;
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    const bool decoded =
        music ? g_pSoundFX->MusicInfo(s.pkg, n.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, n.c_str(), &info);
    if (!decoded && !g_pSoundFX->Identify(s.pkg, n.c_str(), music ? 1 : 0, &info)) return s.Fail(kUnreadableBlock);
    std::string format(info.format, strnlen(info.format, sizeof info.format));
    if (format.empty()) format = "bin";
    if (!UsableFormat(format)) return s.Fail("its audio format text cannot be used in a file name.");
    BlockPayload block;
    g_pStuffVLT->LoadBlock(s.pkg, kinds::TypeOf(kind.block), n.c_str(), &block.info);
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    std::string path;
    if (!WritePayload(s, kind.filePrefix, n, "." + format, block.info.data, block.info.size, path)) return false;
    if (!Open(s, kind.tag())) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetText(s, orb::attr::kSource, path.c_str());
    Close(s);
    return true;
}

bool Import(ImportSession& s, std::string& name, bool music) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!ReadName(s, name) || !Source(s, source, bytes)) return false;
    // No replacement: a block that exists already makes the element fail
    // (an update replaces it, in the package manager).
    ClearStoreReason();
    const char* type = kinds::TypeOf(music ? kinds::Kind::Music : kinds::Kind::Sound);
    if (KeptAsStored(s, type, name, [&] { return samemeaning::SameBytes(s.pkg, type, name, bytes); })) return true;
    IStuffVLT::UpdateCounts before;
    if (s.update) g_pStuffVLT->GetUpdateCounts(s.pkg, &before);
    const int result = g_pSoundFX->ImportData(s.pkg, name.c_str(), source.c_str(), bytes, music);
    if (result <= 0) return StoreFails(s, result);
    // A file the SDK cannot decode is the user's all the same: it is stored
    // and exported as it is, and said once, when it comes into the package
    // (not again by an update that finds it unchanged).
    IStuffVLT::UpdateCounts after;
    if (s.update && g_pStuffVLT->GetUpdateCounts(s.pkg, &after) == 1 && after.unchanged > before.unchanged) return true;
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    if (music ? g_pSoundFX->MusicInfo(s.pkg, name.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, name.c_str(), &info))
        return true;
    Payload stored;
    if (!stored.Load(s.pkg, type, name, 1)) return true;
    std::printf("\n - Info: %s '%s' is %s: stored byte for byte; the SDK cannot decode it.\n",
                music ? "music" : "sound", SafeText(name, SafeStyle::Masked).c_str(),
                ISoundFX::Describe(stored.info.data, stored.info.size, music).c_str());
    return true;
}

namespace {

std::string AudioFacts(const AudioInfo& info, const std::string& format) {
    std::string t = format.empty() ? "no known format" : format;
    if (info.frequency)
        t += ", " + N(info.frequency) + " Hz, " + N(info.channels) + " channels, " + N(info.sampleFormat & 0xFF) +
             " bits";
    return t + ", " + N(info.size) + " bytes";
}

}  // namespace

// A sound or music block: WAV and Ogg as they are, AIFF and VOC sounds as
// the WAV their decoder makes, in a player; anything else as a link to its
// bytes.
bool Show(gallery::Session& s, const kinds::Entry& e, bool music) {
    const std::string& n = e.name;
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    const uint8_t kind = music ? 1 : 0;
    const bool decoded =
        music ? g_pSoundFX->MusicInfo(s.pkg, n.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, n.c_str(), &info);
    if (!decoded && !g_pSoundFX->Identify(s.pkg, n.c_str(), kind, &info)) return s.Fail(kUnreadableBlock);
    const std::string format(info.format, strnlen(info.format, sizeof info.format));
    const bool direct = decoded && (format == "WAV" || format == "OGG");
    const bool convert = decoded && !music && (format == "AIFF" || format == "VOC");
    // Music that no browser plays is named by its container (MIDI included)
    // and its title where its head has one.
    std::string title, container = format;
    if (music && !direct && !g_pSoundFX->MusicTitle(s.pkg, n.c_str(), title, container))
        return s.Fail(kUnreadableBlock);
    std::string ext = container.empty() ? "bin" : container == "MIDI" ? "mid" : container;
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char* prefix = music ? "mus_" : "snd_";
    std::string url, facts = AudioFacts(info, container), player;
    if (!title.empty()) facts += ", title \"" + gallery::Html(title) + "\"";
    if (convert) {
        std::vector<uint8_t> wav;
        if (!g_pSoundFX->DecodeToWav(s.pkg, n.c_str(), wav))
            return s.Fail("its " + format + " data could not be decoded to WAV.");
        if (!gallery::WriteBytes(s, s.names.Make(prefix, n, ".wav"), wav.data(), wav.size(), url)) return false;
        facts += ", converted to WAV";
    } else {
        BlockPayload block;
        g_pStuffVLT->LoadBlock(s.pkg, kinds::TypeOf(music ? kinds::Kind::Music : kinds::Kind::Sound), n.c_str(),
                               &block.info);
        if (!block.info.data) return s.Fail(kUnreadableBlock);
        if (!gallery::WriteBytes(s, s.names.Make(prefix, n, "." + ext), block.info.data, block.info.size, url))
            return false;
    }
    if (direct || convert) {
        player = std::string("<audio controls preload=\"") + (s.players > gallery::kMaxPreloads ? "none" : "metadata") +
                 "\" src=\"" + url + "\"></audio>\n";
    } else {
        player = "<a href=\"" + url + "\">" + (music ? "the music file" : "the sound file") +
                 "</a> (no player in a browser)\n";
    }
    s.html +=
        gallery::Open(music ? "music" : "sound", n) + player + "<div class=\"meta\">" + facts + "</div>\n</section>\n";
    return true;
}

}  // namespace audio
