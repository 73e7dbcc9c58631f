#include "ui/SpeedButton.h"

#include "base/Exception.h"

#include <windows.h>

namespace qm::ui {
namespace {

// Window extra bytes: the glyph, the font and the mouse-tracking flags.
constexpr int GlyphSlot = 0;
constexpr int FontSlot = static_cast<int>(sizeof(LONG_PTR));
constexpr int FlagsSlot = 2 * static_cast<int>(sizeof(LONG_PTR));
constexpr LONG_PTR Tracking = 1; // the left button went down on us
constexpr LONG_PTR Pressed = 2;  // ... and the mouse is over us now

LONG_PTR Slot(HWND Wnd, int Index) { return GetWindowLongPtrA(Wnd, Index); }

void SetFlags(HWND Wnd, LONG_PTR Flags)
{
    if (Slot(Wnd, FlagsSlot) != Flags) {
        SetWindowLongPtrA(Wnd, FlagsSlot, Flags);
        InvalidateRect(Wnd, nullptr, FALSE);
    }
}

void Clicked(HWND Wnd)
{
    if (IsWindowEnabled(Wnd))
        SendMessageA(GetParent(Wnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Wnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(Wnd));
}

bool Inside(HWND Wnd, LPARAM Point)
{
    RECT r;
    GetClientRect(Wnd, &r);
    const POINT p{static_cast<short>(LOWORD(Point)), static_cast<short>(HIWORD(Point))};
    return PtInRect(&r, p) != FALSE;
}

void PaintGlyph(HDC Dc, HBITMAP Glyph, const RECT& Face, int Shift)
{
    BITMAP bm{};
    GetObjectA(Glyph, sizeof bm, &bm);
    const HDC mem = CreateCompatibleDC(Dc);
    const HGDIOBJ old = SelectObject(mem, Glyph);
    const COLORREF transparent = GetPixel(mem, 0, bm.bmHeight - 1);
    const int x = (Face.left + Face.right - bm.bmWidth) / 2 + Shift;
    const int y = (Face.top + Face.bottom - bm.bmHeight) / 2 + Shift;
    TransparentBlt(Dc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, bm.bmWidth, bm.bmHeight, transparent);
    SelectObject(mem, old);
    DeleteDC(mem);
}

void PaintCaption(HWND Wnd, HDC Dc, RECT Face, int Shift)
{
    char text[128] = {};
    GetWindowTextA(Wnd, text, sizeof text);
    const HGDIOBJ oldFont = SelectObject(Dc, reinterpret_cast<HFONT>(Slot(Wnd, FontSlot)));
    SetBkMode(Dc, TRANSPARENT);
    OffsetRect(&Face, Shift, Shift);
    constexpr UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if (IsWindowEnabled(Wnd)) {
        SetTextColor(Dc, GetSysColor(COLOR_BTNTEXT));
        DrawTextA(Dc, text, -1, &Face, format);
    } else { // engraved, as disabled captions are drawn
        RECT light = Face;
        OffsetRect(&light, 1, 1);
        SetTextColor(Dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextA(Dc, text, -1, &light, format);
        SetTextColor(Dc, GetSysColor(COLOR_BTNSHADOW));
        DrawTextA(Dc, text, -1, &Face, format);
    }
    SelectObject(Dc, oldFont);
}

void Paint(HWND Wnd)
{
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(Wnd, &ps);
    RECT face;
    GetClientRect(Wnd, &face);
    FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));
    const bool pressed = (Slot(Wnd, FlagsSlot) & Pressed) != 0;
    DrawEdge(dc, &face, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_ADJUST);
    const int shift = pressed ? 1 : 0;
    if (const auto glyph = reinterpret_cast<HBITMAP>(Slot(Wnd, GlyphSlot)))
        PaintGlyph(dc, glyph, face, shift);
    else
        PaintCaption(Wnd, dc, face, shift);
    EndPaint(Wnd, &ps);
}

LRESULT CALLBACK SpeedButtonProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    switch (Msg) {
    case WM_PAINT:
        Paint(Wnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        SetWindowLongPtrA(Wnd, FontSlot, static_cast<LONG_PTR>(WParam));
        if (LParam)
            InvalidateRect(Wnd, nullptr, FALSE);
        return 0;
    case WM_GETFONT:
        return Slot(Wnd, FontSlot);
    case BM_SETIMAGE:
        if (WParam != IMAGE_BITMAP)
            return 0;
        InvalidateRect(Wnd, nullptr, FALSE);
        return SetWindowLongPtrA(Wnd, GlyphSlot, LParam);
    case BM_CLICK:
        Clicked(Wnd);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case WM_LBUTTONDOWN:
        // No SetFocus: the focus stays where it was.
        SetCapture(Wnd);
        SetFlags(Wnd, Tracking | Pressed);
        return 0;
    case WM_MOUSEMOVE:
        if (Slot(Wnd, FlagsSlot) & Tracking)
            SetFlags(Wnd, Tracking | (Inside(Wnd, LParam) ? Pressed : 0));
        return 0;
    case WM_LBUTTONUP:
        if (Slot(Wnd, FlagsSlot) & Tracking) {
            const bool inside = Inside(Wnd, LParam);
            ReleaseCapture(); // WM_CAPTURECHANGED clears the flags
            SetFlags(Wnd, 0);
            if (inside)
                Clicked(Wnd);
        }
        return 0;
    case WM_CAPTURECHANGED:
        SetFlags(Wnd, 0);
        return 0;
    case WM_ENABLE:
    case WM_SETTEXT: {
        const LRESULT result = DefWindowProcA(Wnd, Msg, WParam, LParam);
        InvalidateRect(Wnd, nullptr, FALSE);
        return result;
    }
    default:
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    }
}

} // namespace

void RegisterSpeedButtonClass()
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, SpeedButtonClass, &existing))
        return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = SpeedButtonProc;
    wc.cbWndExtra = 3 * static_cast<int>(sizeof(LONG_PTR));
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = SpeedButtonClass;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the speed button class");
}

} // namespace qm::ui
