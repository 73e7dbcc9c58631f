#include "ui/MessageBox.h"

#include "ui/Application.h"

#include <utility>

namespace qm::ui {
namespace {

int SystemMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)
{
    return MessageBoxA(Owner, Text.c_str(), Caption.c_str(), Flags);
}

// The one function every message box goes through (GUI thread only).
TMessageBoxFn& CurrentFn()
{
    static TMessageBoxFn fn = SystemMessageBox;
    return fn;
}

} // namespace

int ShowMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)
{
    const TMessageBoxFn fn = CurrentFn(); // a copy: the box may run a loop that replaces it
    return fn(Owner, Text, Caption, Flags);
}

void ShowMessage(HWND Owner, const std::string& Text)
{
    ShowMessageBox(Owner, Text, Application().Title, MB_OK);
}

TMessageBoxSeam::TMessageBoxSeam(TMessageBoxFn Fn) : saved_(std::exchange(CurrentFn(), std::move(Fn))) {}

TMessageBoxSeam::~TMessageBoxSeam()
{
    CurrentFn() = std::move(saved_);
}

} // namespace qm::ui
