#include "ui/ObjectWindow.h"

#include "base/Exception.h"
#include "ui/Application.h"

#include <string>

namespace qm::ui {
namespace {

LRESULT CALLBACK OwnedWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(LParam);
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    }
    TWindowOwner* owner = WindowOwnerOf(Wnd);
    if (!owner)
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    if (Msg == WM_NCDESTROY) // the last message: nothing may reach the owner after it
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
    // No exception may unwind through the system's frames: the message pump
    // raises it again once DispatchMessageA has returned.
    try {
        return owner->WindowProc(Wnd, Msg, WParam, LParam);
    } catch (...) {
        ParkDispatchException(std::current_exception());
        return 0;
    }
}

void RegisterOnce(HINSTANCE Instance, const TWindowClass& Class)
{
    WNDCLASSA existing{};
    if (GetClassInfoA(Instance, Class.Name, &existing))
        return;
    WNDCLASSA wc{};
    wc.style = Class.Style;
    wc.lpfnWndProc = OwnedWindowProc;
    wc.hInstance = Instance;
    wc.hCursor = Class.Cursor;
    wc.hbrBackground = Class.Background;
    wc.hIcon = Class.Icon;
    wc.lpszClassName = Class.Name;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception(std::string("Cannot register the window class ") + Class.Name);
}

} // namespace

void TWindowDeleter::operator()(HWND Wnd) const noexcept
{
    SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
    DestroyWindow(Wnd);
}

TWindowOwner* WindowOwnerOf(HWND Wnd) noexcept
{
    return reinterpret_cast<TWindowOwner*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
}

TWindowHandle CreateOwnedWindow(TWindowOwner& Owner, const TWindowClass& Class, const TWindowPlace& Place)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterOnce(instance, Class);
    HWND wnd = CreateWindowExA(Place.ExStyle, Class.Name, Place.Caption, Place.Style, Place.X, Place.Y, Place.Width,
                               Place.Height, Place.Parent, Place.Menu, instance, &Owner);
    if (!wnd)
        throw Exception(std::string("Cannot create a window of the class ") + Class.Name);
    return TWindowHandle(wnd);
}

} // namespace qm::ui
