#pragma once

#include <windows.h>

namespace oru {

/// The about box Form1: caption "oruDriver", no border icons, 229 x 144 px
/// outside, "Oru Akıllı Tahta Sürücüsü", the product's web address and the
/// "Kapat" button, in MS Sans Serif 8 pt. Shown modally by exec().
class WinAboutBox {
public:
    explicit WinAboutBox(HINSTANCE instance);
    ~WinAboutBox();
    WinAboutBox(const WinAboutBox&) = delete;
    WinAboutBox& operator=(const WinAboutBox&) = delete;

    /// Shows the box and runs its loop until "Kapat" (or Enter, ESC) closes
    /// it. A quit of the program met meanwhile closes it and is passed on.
    void exec();
    bool visible() const { return visible_; }
    /// "Kapat".
    void Button1Click();

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void create();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    bool visible_ = false;
};

} // namespace oru
