// The sound and music interface: "SND" and "MUS" blocks. One instance exists
// (g_pSoundFX).
#pragma once

class ISoundFX {
public:
    ISoundFX();
    ~ISoundFX();
    ISoundFX(const ISoundFX&) = delete;
    ISoundFX& operator=(const ISoundFX&) = delete;
};
