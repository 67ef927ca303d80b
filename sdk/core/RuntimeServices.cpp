#include "core/RuntimeServices.h"

#include "core/Log.h"

ICursor* g_pCursor = nullptr;
IPrimitives* g_pPrimitives = nullptr;
IScreenFX* g_pScreenFX = nullptr;
ITimeSystem* g_pTimeSystem = nullptr;
INetwork* g_pNetwork = nullptr;
IVideo* g_pVideo = nullptr;

ICursor::ICursor() { LogTag("ICursor").Line(5, "Interfaz created.\n"); }
ICursor::~ICursor() { LogTag("ICursor").Line(5, "Interfaz deleted.\n"); }
IPrimitives::IPrimitives() { LogTag("IPrimitives").Line(5, "Interfaz created.\n"); }
IPrimitives::~IPrimitives() { LogTag("IPrimitives").Line(5, "Interfaz deleted.\n"); }
IScreenFX::IScreenFX() { LogTag("IScreenFX").Line(5, "Interfaz created.\n"); }
IScreenFX::~IScreenFX() { LogTag("IScreenFX").Line(5, "Interfaz deleted.\n"); }
ITimeSystem::ITimeSystem() { LogTag("ITimeSystem").Line(5, "Interfaz created.\n"); }
ITimeSystem::~ITimeSystem() { LogTag("ITimeSystem").Line(5, "Interfaz deleted.\n"); }
// Networking announces neither its creation nor its deletion.
INetwork::INetwork() {}
INetwork::~INetwork() {}
IVideo::IVideo() { LogTag("IVideo").Line(5, "Interfaz created.\n"); }
IVideo::~IVideo() { LogTag("IVideo").Line(5, "Interfaz deleted.\n"); }
