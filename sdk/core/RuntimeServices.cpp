#include "core/RuntimeServices.h"

#include "core/Log.h"

ICursor* g_pCursor = nullptr;
IPrimitives* g_pPrimitives = nullptr;
IScreenFX* g_pScreenFX = nullptr;
ITimeSystem* g_pTimeSystem = nullptr;
INetwork* g_pNetwork = nullptr;
IVideo* g_pVideo = nullptr;

ICursor::ICursor() { LOG_PRINT(5, " . [ICursor] Interfaz created.\n"); }
ICursor::~ICursor() { LOG_PRINT(5, " . [ICursor] Interfaz deleted.\n"); }
IPrimitives::IPrimitives() { LOG_PRINT(5, " . [IPrimitives] Interfaz created.\n"); }
IPrimitives::~IPrimitives() { LOG_PRINT(5, " . [IPrimitives] Interfaz deleted.\n"); }
IScreenFX::IScreenFX() { LOG_PRINT(5, " . [IScreenFX] Interfaz created.\n"); }
IScreenFX::~IScreenFX() { LOG_PRINT(5, " . [IScreenFX] Interfaz deleted.\n"); }
ITimeSystem::ITimeSystem() { LOG_PRINT(5, " . [ITimeSystem] Interfaz created.\n"); }
ITimeSystem::~ITimeSystem() { LOG_PRINT(5, " . [ITimeSystem] Interfaz deleted.\n"); }
// Networking announces neither its creation nor its deletion.
INetwork::INetwork() {}
INetwork::~INetwork() {}
IVideo::IVideo() { LOG_PRINT(5, " . [IVideo] Interfaz created.\n"); }
IVideo::~IVideo() { LOG_PRINT(5, " . [IVideo] Interfaz deleted.\n"); }
