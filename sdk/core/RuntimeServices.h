// The runtime services' interface objects (cursors, drawing primitives,
// screen effects, time system, networking, video). The converter never uses
// them: they exist between Init and Quit, announce their creation and
// deletion, and report that there is no screen and no OpenGL mode.
#pragma once

class ICursor {
public:
    ICursor();
    ~ICursor();
};

class IPrimitives {
public:
    IPrimitives();
    ~IPrimitives();
};

class IScreenFX {
public:
    IScreenFX();
    ~IScreenFX();
};

class ITimeSystem {
public:
    ITimeSystem();
    ~ITimeSystem();
};

class INetwork {
public:
    INetwork();
    ~INetwork();
};

class IVideo {
public:
    IVideo();
    ~IVideo();
    bool HasScreen() const { return false; }
    bool OpenGLMode() const { return false; }
};

// The runtime services' interface objects between Init and Quit; empty
// before and after.
extern ICursor* g_pCursor;
extern IPrimitives* g_pPrimitives;
extern IScreenFX* g_pScreenFX;
extern ITimeSystem* g_pTimeSystem;
extern INetwork* g_pNetwork;
extern IVideo* g_pVideo;
