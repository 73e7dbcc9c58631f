// TPaintPacer (PaintPacer.h).
#include "ui/PaintPacer.h"

#include <algorithm>

namespace qm::ui {
namespace {

RECT BoundsInParent(HWND Control)
{
    RECT r{};
    GetWindowRect(Control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(Control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// DefWindowProc's WM_SETREDRAW, not the control's own: a list view that
// handles the message itself still draws its scroll bar at every scroll and
// invalidates all of itself, header included, when turned back on.
void SetDrawn(HWND Control, bool Drawn)
{
    DefWindowProcA(Control, WM_SETREDRAW, Drawn ? TRUE : FALSE, 0);
}

} // namespace

void TPaintPacer::Changing(HWND Control)
{
    if (!owner_)
        return;
    const ULONGLONG now = GetTickCount64();
    if (!held_.empty() && now - frameStart_ >= frameMs_)
        Flush(); // the frame is over though its timer has not come
    const bool held = std::any_of(held_.begin(), held_.end(), [&](const THeld& h) { return h.Control == Control; });
    // A hidden control draws nothing anyway, and drawing it again would show it.
    if (held || !IsWindowVisible(Control))
        return;
    if (held_.empty()) {
        frameStart_ = now;
        SetTimer(owner_, TimerId, static_cast<UINT>(frameMs_), nullptr);
    }
    held_.push_back({Control, BoundsInParent(Control), GetScrollPos(Control, SB_VERT)});
    SetDrawn(Control, false);
}

void TPaintPacer::Flush()
{
    if (held_.empty())
        return;
    KillTimer(owner_, TimerId);
    constexpr UINT drawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
    for (const THeld& h : held_) {
        if (!IsWindow(h.Control))
            continue;
        SetDrawn(h.Control, true);
        const bool scrolled = GetScrollPos(h.Control, SB_VERT) != h.ScrollPos;
        // With its children: a list view's header is drawn over when it erases.
        RedrawWindow(h.Control, nullptr, nullptr, drawNow | RDW_ALLCHILDREN | (scrolled ? RDW_FRAME : 0));
        if (RECT now = BoundsInParent(h.Control); !EqualRect(&now, &h.Bounds)) {
            RECT area{};
            UnionRect(&area, &now, &h.Bounds);
            RedrawWindow(GetParent(h.Control), &area, nullptr, drawNow | RDW_ALLCHILDREN);
        }
    }
    held_.clear();
}

} // namespace qm::ui
