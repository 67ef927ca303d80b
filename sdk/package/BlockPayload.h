// The owner of a block payload loaded through the package manager: the
// payload is released with FreeBlock when the owner goes, loads again or is
// told to, on every path.
#pragma once
#include "package/IStuffVLT.h"

class BlockPayload {
public:
    BlockInfo info{};

    BlockPayload() = default;
    ~BlockPayload() { Release(); }
    BlockPayload(const BlockPayload&) = delete;
    BlockPayload& operator=(const BlockPayload&) = delete;

    // Releases what is held, then LoadBlock into a zeroed info: its result,
    // the payload's size. 0 when the block did not load (no data then) and
    // for an empty block (which comes with a buffer all the same); 0 with
    // nothing loaded when there is no package manager.
    int Load(int id, const char* type, const char* name) {
        Release();
        info = BlockInfo{};
        return g_pStuffVLT ? g_pStuffVLT->LoadBlock(id, type, name, &info) : 0;
    }
    // Frees the payload; the rest of info stays as it was loaded.
    void Release() {
        if (info.data && g_pStuffVLT) g_pStuffVLT->FreeBlock(&info);
        info.data = nullptr;
    }
};
