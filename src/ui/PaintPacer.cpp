// TPaintPacer (PaintPacer.h).
#include "ui/PaintPacer.h"

#include "ui/GdiHandle.h"

#include <algorithm>

namespace qm::ui {
namespace {

// Drawing takes at most about 1/DrawShare of a control's time.
constexpr ULONGLONG DrawShare = 10;

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

// Children held with their parent did not change; a control that erases
// its client area draws over them, so they are left out of it.
void DrawClientButChildren(HWND Control)
{
    RECT client{};
    GetClientRect(Control, &client);
    const TGdiHandle<HRGN> area(CreateRectRgnIndirect(&client));
    for (HWND child = GetWindow(Control, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!(GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE))
            continue;
        const RECT r = BoundsInParent(child);
        const TGdiHandle<HRGN> childArea(CreateRectRgnIndirect(&r));
        CombineRgn(area.get(), area.get(), childArea.get(), RGN_DIFF);
    }
    RedrawWindow(Control, nullptr, area.get(), RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_NOCHILDREN);
}

} // namespace

bool TPaintPacer::Changing(HWND Control, std::function<void()> Fit)
{
    if (!owner_)
        return false;
    DrawDue(); // the timer may not come while the queue is busy
    const auto held = std::find_if(held_.begin(), held_.end(), [&](const THeld& h) { return h.Control == Control; });
    if (held != held_.end()) {
        if (Fit)
            held->Fit = std::move(Fit);
        return true;
    }
    // A hidden control draws nothing anyway, and drawing it again would show it.
    if (!IsWindowVisible(Control))
        return false;
    held_.push_back({Control, BoundsInParent(Control), ThumbOf(Control), std::move(Fit)});
    SetDrawn(Control, false);
    ArmTimer();
    return true;
}

void TPaintPacer::Flush()
{
    std::vector<THeld> held = std::move(held_);
    held_.clear();
    ArmTimer();
    for (const THeld& h : held)
        Draw(h);
}

TPaintPacer::TThumb TPaintPacer::ThumbOf(HWND Control)
{
    SCROLLBARINFO bar{};
    bar.cbSize = sizeof bar;
    if (!(GetWindowLongPtrA(Control, GWL_STYLE) & WS_VSCROLL) || !GetScrollBarInfo(Control, OBJID_VSCROLL, &bar))
        return {-1, -1};
    return {bar.xyThumbTop, bar.xyThumbBottom};
}

TPaintPacer::TPace& TPaintPacer::PaceOf(HWND Control)
{
    const auto pace = std::find_if(paces_.begin(), paces_.end(), [&](const TPace& p) { return p.Control == Control; });
    return pace != paces_.end() ? *pace : paces_.emplace_back(TPace{Control, false, 0, frameMs_});
}

ULONGLONG TPaintPacer::DueAt(HWND Control)
{
    const TPace& pace = PaceOf(Control);
    return pace.Drawn ? pace.DrawnAt + pace.FrameMs : 0;
}

void TPaintPacer::DrawDue()
{
    const ULONGLONG now = GetTickCount64();
    std::vector<THeld> due;
    const auto waiting =
        std::stable_partition(held_.begin(), held_.end(), [&](const THeld& h) { return DueAt(h.Control) > now; });
    std::move(waiting, held_.end(), std::back_inserter(due));
    held_.erase(waiting, held_.end());
    if (due.empty())
        return;
    for (const THeld& h : due)
        Draw(h);
    ArmTimer();
}

void TPaintPacer::Draw(const THeld& Held)
{
    if (!IsWindow(Held.Control))
        return;
    const ULONGLONG start = GetTickCount64();
    if (Held.Fit)
        Held.Fit(); // still off the screen: nothing is drawn twice
    SetDrawn(Held.Control, true);
    // The scroll bar only when its thumb moved on the screen: it is the
    // dearest part of a list view to draw.
    if (ThumbOf(Held.Control) != Held.Thumb)
        SetScrollPos(Held.Control, SB_VERT, GetScrollPos(Held.Control, SB_VERT), TRUE);
    DrawClientButChildren(Held.Control);
    if (RECT now = BoundsInParent(Held.Control); !EqualRect(&now, &Held.Bounds)) {
        RECT area{};
        UnionRect(&area, &now, &Held.Bounds);
        RedrawWindow(GetParent(Held.Control), &area, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    TPace& pace = PaceOf(Held.Control);
    pace.Drawn = true;
    pace.DrawnAt = GetTickCount64();
    pace.FrameMs = std::max(frameMs_, (pace.DrawnAt - start) * DrawShare);
}

void TPaintPacer::FrameEnded()
{
    // Timers repeat: this one stops, and the next due time sets it anew.
    KillTimer(owner_, TimerId);
    timerDue_.reset();
    DrawDue();
    ArmTimer();
}

// Each SetTimer is a round trip to the window system: the timer is set again
// only for a new due time.
void TPaintPacer::ArmTimer()
{
    if (!owner_)
        return;
    if (held_.empty()) {
        if (timerDue_)
            KillTimer(owner_, TimerId);
        timerDue_.reset();
        return;
    }
    ULONGLONG due = ~0ULL;
    for (const THeld& h : held_)
        due = std::min(due, DueAt(h.Control));
    if (due == timerDue_)
        return;
    timerDue_ = due;
    const ULONGLONG now = GetTickCount64();
    SetTimer(owner_, TimerId, static_cast<UINT>(due > now ? due - now : USER_TIMER_MINIMUM), nullptr);
}

} // namespace qm::ui
