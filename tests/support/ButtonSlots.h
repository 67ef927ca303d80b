// Buttons placed in IButton's slots for the widget tests.
#pragma once
#include "resources/IButton.h"

namespace testsupport {
namespace {

namespace slotaccess {
using SlotMember = ButtonRecord* (IButton::*)(int);
SlotMember Get();
template <SlotMember M>
struct Grant {
    friend SlotMember Get() { return M; }
};
template struct Grant<&IButton::Slot>;
}  // namespace slotaccess

// Takes the free slot of a working or master number and marks it used (id set, the rest as a reset slot).
ButtonRecord* PlaceButton(IButton& b, int number) {
    ButtonRecord* r = (b.*slotaccess::Get())(number);
    if (!r || !r->free) return nullptr;
    *r = ButtonRecord{};
    r->visible = 1;
    r->free = 0;
    r->id = static_cast<uint32_t>(number);
    return r;
}

// Places a working button as a clone of a used master.
ButtonRecord* CloneButton(IButton& b, int masterNumber, int number) {
    ButtonRecord* m = b.GetButton(masterNumber);
    if (!m || masterNumber < IButton::kMasterBase || number >= IButton::kMasterBase) return nullptr;
    ButtonRecord* r = PlaceButton(b, number);
    if (!r) return nullptr;
    ButtonRecord copy = *m;
    copy.id = r->id;
    copy.cloned = 1;
    copy.master = static_cast<uint32_t>(masterNumber);
    *r = copy;
    ++m->master;
    return r;
}

}  // namespace
}  // namespace testsupport
