#include "resources/IImage.h"

#include "core/Log.h"

IImage::IImage() { LOG_PRINT(5, " . [IImage] Interfaz created.\n"); }
IImage::~IImage() { LOG_PRINT(5, " . [IImage] Interfaz deleted.\n"); }
