#include "core/Trovalis.h"
int TrovalisCore::GetCPUFeatures(char*, size_t) { return 1; }
