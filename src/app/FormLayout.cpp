#include "app/FormLayout.h"

#include "base/Exception.h"

#include <string>

namespace qm {
namespace {

TFontHandle MakeFont(int Height, UINT Dpi, bool Bold)
{
    return TFontHandle(CreateFontA(-ScaleForDpi(Height, Dpi), 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                   ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_SWISS, "Arial"));
}

HFONT FontFor(const TFormFonts& Fonts, TFontRole Role)
{
    switch (Role) {
    case TFontRole::Bold:
        return Fonts.Bold.get();
    case TFontRole::Small:
        return Fonts.Small.get();
    case TFontRole::Normal:
        break;
    }
    return Fonts.Normal.get();
}

// Functions of Windows 10 1607 and later, looked up once: the program also
// starts on systems without them.
template <class Fn>
Fn User32Function(const char* Name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), Name)));
}
using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TAdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// The outer size of a window whose client area is Width x Height.
SIZE FrameSize(HWND Wnd, int Width, int Height, UINT Dpi)
{
    static const auto adjust = User32Function<TAdjustForDpi>("AdjustWindowRectExForDpi");
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(Wnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrA(Wnd, GWL_EXSTYLE));
    RECT r{0, 0, Width, Height};
    if (adjust)
        adjust(&r, style, FALSE, exStyle, Dpi);
    else
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return {r.right - r.left, r.bottom - r.top};
}

} // namespace

TFormFonts::TFormFonts(UINT Dpi)
    : Normal(MakeFont(11, Dpi, false)), Bold(MakeFont(11, Dpi, true)), Small(MakeFont(9, Dpi, false))
{
}

int ScaleForDpi(int Pixels, UINT Dpi)
{
    return MulDiv(Pixels, static_cast<int>(Dpi), 96);
}

UINT SystemDpi()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND Wnd)
{
    static const auto getDpi = User32Function<TGetDpiForWindow>("GetDpiForWindow");
    const UINT dpi = getDpi ? getDpi(Wnd) : 0;
    return dpi ? dpi : SystemDpi();
}

void CreateChildren(HWND Parent, std::span<const TChildSpec> Children)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const TChildSpec& c : Children) {
        const HWND child = CreateWindowExA(c.ExStyle, c.Class, c.Caption, c.Style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                           Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance,
                                           nullptr);
        if (!child)
            throw Exception(std::string("Cannot create a control of the class ") + c.Class);
    }
}

std::unique_ptr<TFormFonts> LayOutChildren(HWND Parent, std::span<const TChildSpec> Children, int ClientWidth,
                                           int ClientHeight, UINT Dpi)
{
    auto fonts = std::make_unique<TFormFonts>(Dpi);
    const SIZE frame = FrameSize(Parent, ScaleForDpi(ClientWidth, Dpi), ScaleForDpi(ClientHeight, Dpi), Dpi);
    SetWindowPos(Parent, nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(Parent, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->Normal.get()), FALSE);
    for (const TChildSpec& c : Children) {
        const HWND child = GetDlgItem(Parent, c.Id);
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(*fonts, c.Font)), FALSE);
        SetWindowPos(child, nullptr, ScaleForDpi(c.Left, Dpi), ScaleForDpi(c.Top, Dpi), ScaleForDpi(c.Width, Dpi),
                     ScaleForDpi(c.Height, Dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(Parent, nullptr, TRUE);
    return fonts;
}

void MoveToSuggestedRect(HWND Wnd, LPARAM SuggestedRect)
{
    const RECT& r = *reinterpret_cast<const RECT*>(SuggestedRect);
    SetWindowPos(Wnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

TBitmapHandle LoadBitmapResource(int Id, int Width, int Height)
{
    const auto bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(Id), IMAGE_BITMAP, Width, Height, LR_CREATEDIBSECTION));
    if (!bitmap)
        throw Exception("Cannot load the bitmap resource " + std::to_string(Id));
    return TBitmapHandle(bitmap);
}

void DrawBevel(const DRAWITEMSTRUCT& Item, UINT Edges)
{
    RECT r = Item.rcItem;
    FillRect(Item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(Item.hDC, &r, EDGE_ETCHED, Edges);
}

void CenterOnScreen(HWND Wnd)
{
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT r{};
    GetWindowRect(Wnd, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    SetWindowPos(Wnd, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace qm
