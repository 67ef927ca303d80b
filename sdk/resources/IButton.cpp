#include "resources/IButton.h"

#include "core/Log.h"

IButton::IButton() { LOG_PRINT(5, " . [IButton] Interfaz created.\n"); }
IButton::~IButton() { LOG_PRINT(5, " . [IButton] Interfaz deleted.\n"); }
