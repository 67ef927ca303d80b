// The converter's two entry points. Each returns non-zero for success and 0
// for failure; output may be null, and each derives its own then.
#pragma once

int ExportPackage(const char* input, const char* output);
int ImportDocument(const char* input, const char* output);
