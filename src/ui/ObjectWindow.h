// A window that belongs to an object: the class is registered once per
// process, the object is bound to the window at WM_NCCREATE (so even
// WM_CREATE reaches it) and unbound before the window is destroyed (so a
// dying object gets no messages), and exceptions escaping the object's
// window procedure are parked for the message pump (ParkDispatchException)
// instead of unwinding through the system's frames.
//
// Call sequence: the owner implements TWindowOwner::WindowProc, calls
// CreateOwnedWindow (typically in its constructor) and keeps the returned
// TWindowHandle as a member declared after everything WindowProc uses, so the
// window goes first when the owner is destroyed. Destroying the window from
// inside the owner's own WindowProc (for instance by destroying the owner
// from an event handler) is allowed: the shared window procedure touches
// neither the owner nor the handle after WindowProc returns.
#pragma once

#include <windows.h>

#include <memory>

namespace qm::ui {

// An object that owns a window implements this; the shared window procedure
// forwards every message after WM_NCCREATE to it.
class TWindowOwner {
public:
    virtual LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) = 0;

protected:
    ~TWindowOwner() = default;
};

// Destroys the window after unbinding it from its owner, so a dying owner
// gets no messages.
struct TWindowDeleter {
    void operator()(HWND Wnd) const noexcept;
};
using TWindowHandle = std::unique_ptr<HWND__, TWindowDeleter>;

// Registered once per process per Name (ERROR_CLASS_ALREADY_EXISTS is fine).
struct TWindowClass {
    const char* Name;
    UINT Style = 0;
    HCURSOR Cursor = nullptr;
    HBRUSH Background = nullptr;
    HICON Icon = nullptr;
};

// CreateWindowExA arguments.
struct TWindowPlace {
    DWORD ExStyle = 0;
    DWORD Style = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND Parent = nullptr;
    HMENU Menu = nullptr;
    const char* Caption = "";
};

// Creates a window of Class bound to Owner (bound at WM_NCCREATE, so even
// WM_CREATE reaches Owner). Exceptions escaping Owner.WindowProc are caught
// at the boundary and parked with ParkDispatchException; the message returns
// 0 then. Raises qm::Exception when the class cannot be registered or the
// window cannot be created.
TWindowHandle CreateOwnedWindow(TWindowOwner& Owner, const TWindowClass& Class, const TWindowPlace& Place);

// The owner bound to Wnd, a window made by CreateOwnedWindow; null once unbound.
TWindowOwner* WindowOwnerOf(HWND Wnd) noexcept;

} // namespace qm::ui
