// Shared pieces of the program's two forms: fonts made for a DPI, the
// scaling of designed positions (pixels at 96 DPI), a table of child
// controls created and laid out from one description, and centring.
#pragma once

#include "ui/GdiHandle.h"

#include <windows.h>

#include <memory>
#include <span>

namespace qm {

using TFontHandle = ui::TGdiHandle<HFONT>;
using TBitmapHandle = ui::TGdiHandle<HBITMAP>;

// A bitmap resource of the program, stretched to Width x Height (0 x 0: its
// own size), as a DIB section so a 32-bit alpha channel survives. Raises
// qm::Exception when it is missing.
TBitmapHandle LoadBitmapResource(int Id, int Width, int Height);

// The forms' fonts: Arial, ANSI character set, at the height given in
// pixels at 96 DPI and scaled for Dpi.
struct TFormFonts {
    TFormFonts(UINT Dpi);
    TFontHandle Normal; // height -11
    TFontHandle Bold;   // height -11, bold
    TFontHandle Small;  // height -9
};

enum class TFontRole { Normal, Bold, Small };

// A designed position scaled for Dpi.
int ScaleForDpi(int Pixels, UINT Dpi);
// The DPI of the monitor Wnd is on (of the system before Windows 10 1607).
UINT WindowDpi(HWND Wnd);
// The DPI of the primary monitor, for a window not yet created.
UINT SystemDpi();

// One child control: its class, styles, id, designed bounds and caption.
struct TChildSpec {
    const char* Class;
    DWORD Style;   // WS_CHILD | WS_VISIBLE are added
    DWORD ExStyle;
    int Id;
    int Left, Top, Width, Height; // client pixels at 96 DPI
    const char* Caption;
    TFontRole Font = TFontRole::Normal;
};

// Creates the children of Parent in table order (which is their tab order);
// raises qm::Exception when one cannot be created.
void CreateChildren(HWND Parent, std::span<const TChildSpec> Children);
// Places and sizes Parent (client area ClientWidth x ClientHeight at 96 DPI,
// keeping its top-left corner) and its children for Dpi, with new fonts made
// for Dpi. Returns the fonts: the caller keeps them while its controls use
// them (replacing the old ones only afterwards).
std::unique_ptr<TFormFonts> LayOutChildren(HWND Parent, std::span<const TChildSpec> Children, int ClientWidth,
                                           int ClientHeight, UINT Dpi);
// WM_DPICHANGED's second half: moves Wnd to the rectangle the system
// suggests (LParam), after the form was laid out for the new DPI.
void MoveToSuggestedRect(HWND Wnd, LPARAM SuggestedRect);
// Paints an owner-drawn bevel: the face colour with an etched line along
// Edges (BF_RECT for a frame, BF_TOP for a line along the top).
void DrawBevel(const DRAWITEMSTRUCT& Item, UINT Edges);
// Moves the top-level window Wnd to the centre of the primary monitor's work area.
void CenterOnScreen(HWND Wnd);

} // namespace qm
