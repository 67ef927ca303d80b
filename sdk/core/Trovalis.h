// The SDK's core object: started with Init, stopped with Quit. It carries the
// version texts, the start tick (0xFFFFFFFF until the first successful Init;
// the origin of log timestamps and the test behind every "Trovalis was not
// initialized" message), the live counts of tiles, sprites and fonts, CRC-32,
// CreatePath, the processor check and the ten XML document slots.
//
// One instance exists, the global `Trovalis`, constructed before main and
// destroyed after it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct SDL_Surface;
class TiXmlDocument;
class TiXmlElement;

class TrovalisCore {
public:
    static constexpr int kXmlSlots = 10;
    static constexpr uint32_t kNotStarted = 0xFFFFFFFFu;

    TrovalisCore();
    ~TrovalisCore();
    TrovalisCore(const TrovalisCore&) = delete;
    TrovalisCore& operator=(const TrovalisCore&) = delete;

    // Lifecycle. Init returns 1 on success, -1 on failure. Both create or
    // destroy the interface objects of the package and resource layers, so
    // they are defined above those layers, in sdk/lifecycle/Lifecycle.cpp
    // (the library trovalis), and not in core.
    int Init(uint32_t flags);
    void Quit();
    bool IsInitialized() const { return initialized_ != 0; }

    // CRC-32 of ISO-HDLC (zlib's); a length below 1 gives 0.
    uint32_t CRC32(const void* buffer, int32_t length) const;
    // Creates the missing directories along the directory part of a file path.
    void CreatePath(const char* path) const;

    // Processor check. Without a buffer it logs its report and selects a code
    // path; with one it appends the report there (capacity in bytes,
    // NUL included) and selects nothing. 1 on success, 0 on failure.
    int GetCPUFeatures(char* text = nullptr, size_t capacity = 0);

    // XML access layer: handles 1 to 10.
    int XMLOpen(const char* file);
    // Opens a document for reading its first top-level element's children one
    // at a time: only the element being read is held as a tree, so memory
    // follows the file's size and not its element count. The whole document
    // is checked when it is opened (an error fails the open as in XMLOpen).
    // Walks (XMLNodePointTo, XMLNodeChild, XMLNodeNext, XMLNodeParent) and
    // reads work as on a document from XMLOpen; writes, XMLSave and XMLPrint
    // are refused. Moving to another child of that element, or back to its
    // first, drops the elements of the child left.
    int XMLOpenStream(const char* file);
    // Where the current element starts in its file: row and column from 1,
    // as the XML library counts them (a tab advances to the next multiple of
    // four columns). 1, or 0 when the place is not known.
    int XMLNodeLocation(int handle, int* row, int* column);
    // The element the handle points at, to be read (not kept) by a checker
    // of the document; for a streamed document it lives until the handle
    // moves to another child of the root. Null when the handle points at
    // nothing.
    const TiXmlElement* XMLNodeElement(int handle);
    int XMLCreate(const char* rootName);
    int XMLSave(int handle, const char* file);
    // The document as XMLSave writes it, into text: 1, or 0 for no document.
    int XMLPrint(int handle, std::string* text);
    void XMLClose(int handle);
    int XMLNodePointTo(int handle, int count, ...);
    int XMLNodeChild(int handle);
    int XMLNodeNext(int handle);
    int XMLNodeParent(int handle);
    int XMLNodeCreate(int handle, const char* name);
    const char* XMLNodeGetName(int handle);
    int XMLAttributeSet(int handle, const char* name, const char* value);
    int XMLAttributeSet(int handle, const char* name, int value);
    int XMLAttributeGet(int handle, const char* name, const char** value);
    int XMLAttributeGet(int handle, const char* name, int* value);
    int XMLCommentSet(int handle, const char* text);

    // Version texts.
    const char* VersionBanner() const { return "Trovalis SDK Win32 v5.22 (build 3336)"; }
    // At most 28 characters: written into every new package as its creator.
    const char* MakerLine() const { return "Bundlex developers 2026"; }
    int VersionMajor() const { return 5; }
    int VersionMinor() const { return 22; }

    // State read directly by the other parts of the SDK.
    const char* applicationTitle = "Trovalis SDK Application";
    SDL_Surface* coreSurface = nullptr;
    uint32_t startTick = kNotStarted;
    int32_t liveTiles = 0;
    int32_t liveSprites = 0;
    int32_t liveFonts = 0;
    // When 0, image loaders leave surfaces in the format they were read in.
    int32_t autoDisplayConversion = 1;
    // When nonzero, tiles, sprites and fonts keep a copy of their pixels.
    uint8_t backup = 0;
    // The current video surface: none in this program, which sets no video mode.
    SDL_Surface* screen = nullptr;
    int32_t uploadedTextures = 0;
    // Whether the video system renders through OpenGL: never in this program.
    bool OpenGLMode() const { return false; }
    // The OpenGL upload of a finished surface; without a video mode it never accepts.
    bool UploadTexture(SDL_Surface*) { return false; }
    // The runtime services' screen update mode (0, 1 or 2). Nothing in this
    // program reads it; IButton requests 1 at construction. A request for 1
    // leaves 2 in place, and values above 2 are ignored.
    uint8_t updateMode = 0;
    void RequestUpdateMode(uint8_t mode) {
        if (mode > 2 || (mode == 1 && updateMode == 2)) return;
        updateMode = mode;
    }

private:
    struct XmlStream;
    struct XmlSlot {
        TiXmlDocument* document = nullptr;
        TiXmlElement* current = nullptr;
        XmlStream* stream = nullptr;  // set for a document from XMLOpenStream
    };
    int XMLOpenWith(const char* file, bool stream);
    // For a streamed slot: makes child number i of the streamed element the
    // current element; false when there is none.
    bool StreamChild(XmlSlot* s, size_t i);
    // Logs and refuses a change to a document opened for reading.
    bool Streamed(XmlSlot* s, const char* op, int handle);
    // Validates a handle: the slot, or null for a free slot or a handle outside 1..10.
    XmlSlot* Slot(int handle);
    // As Slot, and logs the "no element pointed" error for the operation op.
    XmlSlot* PointedSlot(int handle, const char* op);

    uint8_t initialized_ = 0;
    XmlSlot xml_[kXmlSlots];
};

extern TrovalisCore Trovalis;
