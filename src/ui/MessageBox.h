// The program's message boxes, through one replaceable function so that tests
// can record what would be shown and answer as a user would.
//
// Every message box of the program goes through ShowMessageBox (or
// ShowMessage). By default that is the system's MessageBoxA; a
// TMessageBoxSeam installs another function for its lifetime. GUI thread
// only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace qm::ui {

// Shows Text under Caption with the MB_ buttons and icon of Flags; returns
// the button pressed (IDOK, IDCANCEL, IDYES, IDNO, ...).
using TMessageBoxFn =
    std::function<int(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)>;

int ShowMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);

// The plain message: Text with a single OK button, the application title as
// caption, owned by Owner (the program's main window, which stays disabled
// while the box is shown, even when the user is in another program).
void ShowMessage(HWND Owner, const std::string& Text);

// Replaces the message-box function while it lives, then restores the one it
// replaced (also when an exception leaves the scope).
class TMessageBoxSeam {
public:
    explicit TMessageBoxSeam(TMessageBoxFn Fn);
    ~TMessageBoxSeam();
    TMessageBoxSeam(const TMessageBoxSeam&) = delete;
    TMessageBoxSeam& operator=(const TMessageBoxSeam&) = delete;

private:
    TMessageBoxFn saved_;
};

} // namespace qm::ui
