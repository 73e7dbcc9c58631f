// The screen cursor: one cursor for every window of the program, the arrow
// by default or the hourglass while a long operation runs. GUI thread only.
//
// Windows of the program answer WM_SETCURSOR with ApplyScreenCursor() first,
// so the hourglass stays while the mouse moves over any of them.
#pragma once

namespace qm::ui {

enum TCursor : int {
    crDefault = 0,    // each window's own cursor
    crHourGlass = -11,
};

// Sets the screen cursor and shows it at once.
void SetScreenCursor(TCursor Cursor);
TCursor ScreenCursor();

// For WM_SETCURSOR: when the screen cursor is not crDefault, shows it and
// returns true (the message is handled); otherwise returns false.
bool ApplyScreenCursor();

} // namespace qm::ui
