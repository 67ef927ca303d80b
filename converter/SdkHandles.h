// Owners for what the SDK hands the converter: a surface, freed with
// SDL_FreeSurface; a block payload from LoadBlock (the SDK's BlockPayload),
// released with FreeBlock; an open package, closed with IStuffVLT::Close;
// an XML document, closed with XMLClose. Each on every path.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <SDL.h>

#include "core/Trovalis.h"
#include "package/BlockPayload.h"
#include "package/IStuffVLT.h"

struct SurfaceFree {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

struct Payload : BlockPayload {
    // LoadBlock; an empty block (expected size 0) loads with no data.
    bool Load(int pkg, const std::string& type, const std::string& name, uint32_t expected) {
        const int r = BlockPayload::Load(pkg, type.c_str(), name.c_str());
        return (r > 0 && info.data) || (r == 0 && expected == 0);
    }
};

// A handle the SDK hands out (0 and below: none), closed with close when
// the owner goes or at Close.
template <void (*close)(int)>
class SdkHandle {
public:
    explicit SdkHandle(int handle = 0) : handle_(handle) {}
    ~SdkHandle() { Close(); }
    SdkHandle(const SdkHandle&) = delete;
    SdkHandle& operator=(const SdkHandle&) = delete;
    int get() const { return handle_; }
    void Reset(int handle) {
        Close();
        handle_ = handle;
    }
    void Close() {
        if (handle_ > 0) close(handle_);
        handle_ = 0;
    }

private:
    int handle_;
};

inline void ClosePackage(int id) {
    if (g_pStuffVLT) g_pStuffVLT->Close(id);
}
inline void CloseXml(int handle) { Trovalis.XMLClose(handle); }
// An open package; an XML document.
using OpenPackage = SdkHandle<ClosePackage>;
using XmlDocument = SdkHandle<CloseXml>;
