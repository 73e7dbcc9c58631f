// TPaintPacer: paints a few controls at most once a frame while they change
// faster than anyone can read them. A run of many small files moves the
// list, the status word and the bar several times in a few milliseconds,
// and a paint costs more than such a file's transfer (a list that scrolls
// redraws its scroll bar at once, even with its own drawing turned off).
//
// Call Changing(Control) before changing a control. From its first change
// in a frame the control is held: it is taken off the screen's drawing the
// way DefWindowProc's WM_SETREDRAW FALSE does (its own state still changes
// at once; nothing of it is drawn, not even its scroll bar), and a timer on
// the owner window ends the frame. The owner's WM_TIMER with TimerId must
// call FrameEnded(), which draws every held control as it is now: its client
// area, its frame when its scroll position moved, and the parent's area
// under the control's old and new bounds when it moved or changed size (a
// label that fits its text). A change that finds its frame over ends it
// too, so a queue too busy for timers still shows a frame a FrameMs.
// Flush() ends the frame now; call it before a message box or at the end of
// the changes so the window shows its last state.
//
// Single-threaded, on the thread that owns the controls. Neither the owner
// nor the controls are owned; the pacer must not outlive the owner. Not
// re-entrant: no call may come from inside another.
#pragma once

#include <windows.h>

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
    void Changing(HWND Control);
    void FrameEnded() { Flush(); }
    void Flush();

private:
    struct THeld {
        HWND Control;
        RECT Bounds;   // in the parent's client coordinates, when held
        int ScrollPos; // vertical, when held
    };

    ULONGLONG frameMs_;
    HWND owner_ = nullptr;
    ULONGLONG frameStart_ = 0;
    std::vector<THeld> held_;
};

} // namespace qm::ui
