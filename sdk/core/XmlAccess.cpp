#include "core/Trovalis.h"
#include <tinyxml.h>
// (placeholder, being written)
void TrovalisCore::XMLClose(int) {}
