// TPaintPacer: draws a few controls at most once a frame while they change
// faster than anyone can read them. A run of many small files moves the
// list, the status word and the bar several times in a few milliseconds,
// and a drawing costs more than such a file's transfer (a list that scrolls
// redraws its scroll bar at once, even with its own drawing turned off).
//
// Call Changing(Control) before changing a control. The control is then held:
// taken off the screen's drawing the way DefWindowProc's WM_SETREDRAW FALSE
// does (its own state still changes at once; nothing of it is drawn, not even
// its scroll bar) until its frame is over, and then drawn as it is: its
// client area, its scroll bar when the thumb moved, and the parent's area
// under its old and new bounds when it moved or changed size. A control's
// frame lasts FrameMs from its last drawing, or ten times as long as that
// drawing took when that is longer: drawing takes at most about a tenth of
// the time, and a control that changes seldom is drawn at once.
//
// The owner window's WM_TIMER with TimerId must call FrameEnded(). Changing()
// also draws what is due, so a queue too busy for timers still shows its
// frames. Flush() draws everything held now; call it before a message box and
// at the end of the changes, so the window shows its last state.
//
// Single-threaded, on the thread that owns the controls. Neither the owner
// nor the controls are owned; the pacer must not outlive the owner. Not
// re-entrant: no call may come from inside another.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace qm::ui {

class TPaintPacer {
public:
    static constexpr UINT_PTR TimerId = 0x5150;

    explicit TPaintPacer(ULONGLONG FrameMs) : frameMs_(FrameMs) {}
    TPaintPacer(const TPaintPacer&) = delete;
    TPaintPacer& operator=(const TPaintPacer&) = delete;

    // The window whose WM_TIMER ends the frames; until it is set every
    // change is drawn as usual.
    void SetOwner(HWND Owner) { owner_ = Owner; }
    // True when Control is held: Fit, if given, then runs just before it is
    // drawn (a label sizes itself to its text once, not at every change).
    // False when the change is drawn as usual (no owner, or Control hidden).
    bool Changing(HWND Control, std::function<void()> Fit = {});
    void FrameEnded();
    void Flush();

private:
    using TThumb = std::pair<int, int>; // the scroll bar thumb's top and bottom, or -1s
    struct THeld {
        HWND Control;
        RECT Bounds;  // in the parent's client coordinates, when held
        TThumb Thumb; // when held
        std::function<void()> Fit;
    };
    struct TPace {
        HWND Control;
        bool Drawn = false; // by the pacer: a control never drawn by it is due at once
        ULONGLONG DrawnAt = 0;
        ULONGLONG FrameMs = 0;
    };

    static TThumb ThumbOf(HWND Control);
    TPace& PaceOf(HWND Control);
    ULONGLONG DueAt(HWND Control);
    void DrawDue();
    void Draw(const THeld& Held);
    void ArmTimer();

    ULONGLONG frameMs_;
    HWND owner_ = nullptr;
    std::vector<THeld> held_;
    std::vector<TPace> paces_; // one per control ever held
    std::optional<ULONGLONG> timerDue_; // when the timer is set to come
};

} // namespace qm::ui
