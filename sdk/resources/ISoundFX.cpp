#include "resources/ISoundFX.h"

#include "core/Log.h"

ISoundFX::ISoundFX() { LOG_PRINT(5, " . [ISoundFX] Interfaz created.\n"); }
ISoundFX::~ISoundFX() { LOG_PRINT(5, " . [ISoundFX] Interfaz deleted.\n"); }
