// The wait control: a small child window that counts down, once per
// Interval, the number in its Caption and shows it as text over a shrinking
// bar. WaitModal lets code wait for the countdown to end (time-out) or to be
// stopped (StopCountdown) while every message of the thread is still
// dispatched, except key and mouse-button presses, which are swallowed with a
// beep. The socket uses it to bound its synchronous waits.
//
// Call sequence: set Caption to the count (decimal), then either WaitModal,
// or StartCountdown ... StopCountdown around a loop of one's own that
// processes messages. Running tells whether the countdown still runs.
//
// Exceptions raised by OnWait or OnTimeout (called from the control's timer
// message) are parked at the window procedure and raised again by the
// application's message processing, so they leave WaitModal, or the caller's
// own message loop, as if they had come straight through.
#pragma once

#include "ui/GdiHandle.h"
#include "ui/ObjectWindow.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace qm {

class TCustomWait : private ui::TWindowOwner {
public:
    using TNotifyEvent = std::function<void(TCustomWait& Sender)>;
    using TWaitEvent = std::function<void(TCustomWait& Sender, int Count)>;
    using TModalResult = int;
    static constexpr TModalResult mrNone = 0;
    static constexpr TModalResult mrOk = 1;     // stopped
    static constexpr TModalResult mrCancel = 2; // timed out

    // Creates the control as a visible 192 x 32 child of Parent at (0, 0).
    // Without a Parent it lives in a message-only window: the countdown, its
    // events and WaitModal work the same, but nothing is ever shown and
    // Visible only records the flag. Destroyed with its parent window, the
    // control forgets its window: Handle() is null, the countdown stops, and
    // starting it again raises qm::Exception.
    explicit TCustomWait(HWND Parent);
    // Runs the free notifications, then destroys the window.
    virtual ~TCustomWait();
    TCustomWait(const TCustomWait&) = delete;
    TCustomWait& operator=(const TCustomWait&) = delete;

    // InitialCount := the leading number of Caption (15, and Caption "15",
    // when that is 0); starts the timer; OnWaitStart.
    virtual void StartCountdown();
    // ModalResult := mrOk; stops the timer; Caption back to InitialCount;
    // OnWaitStop. The same when no countdown runs. Called from OnWait, the
    // stop is final: the tick in progress changes nothing more.
    virtual void StopCountdown();
    // Swallows input through InputFilter (the application's previous message
    // hook is restored afterwards, also when an exception leaves), sets
    // ModalResult to mrNone, StartCountdown, then calls OnWaiting and
    // processes all pending messages until the countdown no longer runs.
    // An exception that leaves the wait leaves the countdown running.
    virtual void WaitModal();
    virtual void RestoreCaption();

    // Whoever keeps a pointer to the control registers here under a Key of
    // its own (registering a Key again replaces its callback); Removed runs
    // once when the control is destroyed. RemoveFreeNotification withdraws
    // a registration, as a holder must before it goes away itself.
    void FreeNotification(const void* Key, std::function<void()> Removed);
    void RemoveFreeNotification(const void* Key);

    HWND Handle() const { return window_.get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int Left, int Top, int Width, int Height);

protected:
    // Plain fields: writing Caption does not repaint.
    std::string Caption = "60";
    TModalResult ModalResult = mrNone;
    TWaitEvent OnWait;          // each tick, with the count after the tick
    TNotifyEvent OnWaiting;     // each pass of the modal wait loop
    TNotifyEvent OnWaitStart;
    TNotifyEvent OnWaitStop;    // stopped by StopCountdown
    TNotifyEvent OnTimeout;     // the count ran out
    int InitialCount = 60;      // the count the current countdown started at

    // Milliseconds per tick, 1000 by default. Below the system's minimum timer
    // period (0 included) the timer ticks at that minimum.
    std::uint16_t Interval() const { return interval_; }
    void SetInterval(std::uint16_t Value);
    bool Running() const { return running_; }
    // The control's own visibility flag, whatever its parent's.
    bool Visible() const { return visible_; }
    void SetVisible(bool Value);

    // The application's message hook during WaitModal: true (handled, not
    // dispatched) with a Beep for key-down, system-key-down and left or right
    // button down or double-click; false for everything else.
    bool InputFilter(MSG& Msg);
    virtual void Beep();
    virtual void Paint(HDC DC);

private:
    template <class H>
    using GdiHandle = ui::TGdiHandle<H>;

    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Tick();
    void SetTimerEnabled(bool enabled);
    void SelectBrushColor(COLORREF color);
    void Box(HDC dc, COLORREF fill, int left, int top, int right, int bottom);

    GdiHandle<HPEN> pen_;
    GdiHandle<HFONT> font_;
    GdiHandle<HBRUSH> brush_;
    COLORREF brushColor_ = 0;
    std::vector<std::pair<const void*, std::function<void()>>> freeNotifications_;
    ui::TWindowHandle window_;
    std::uint16_t interval_ = 1000;
    bool running_ = false;
    bool visible_ = true;
    bool shown_; // has a real parent, so Visible shows and hides the window
    int width_ = 192;
    int height_ = 32;
};

// The wait control with all its properties and events public.
class TWait : public TCustomWait {
public:
    using TCustomWait::TCustomWait;

    using TCustomWait::Caption;
    using TCustomWait::ModalResult;
    using TCustomWait::Interval;
    using TCustomWait::SetInterval;
    using TCustomWait::OnWait;
    using TCustomWait::OnWaiting;
    using TCustomWait::OnWaitStart;
    using TCustomWait::OnWaitStop;
    using TCustomWait::OnTimeout;
    using TCustomWait::Running;
    using TCustomWait::Visible;
    using TCustomWait::SetVisible;
};

} // namespace qm
