// The widget interface: "BUT" blocks, slots, layers and masters. One instance
// exists (g_pButton).
#pragma once

class IButton {
public:
    IButton();
    ~IButton();
    IButton(const IButton&) = delete;
    IButton& operator=(const IButton&) = delete;
};
