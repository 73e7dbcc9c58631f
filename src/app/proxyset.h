// TSetupForm, the proxy settings dialog: four one-line edits (proxy, proxy
// port, user name, password) and the buttons OK and Cancel. It holds no
// logic of its own: the main window's SpeedButton1Click shows it with
// ShowModal and, on mrOk, copies the four texts into its HTTP client.
//
// Created once, hidden, owned by the main window; between showings it stays
// alive and hidden, so the edits keep whatever was typed last, also before a
// Cancel. The password is shown in clear.
//
// Keys: Tab runs proxy, port, OK, Cancel, user name, password; Enter presses
// the default button OK (or the focused button); Escape does nothing; the
// title bar's close button gives mrCancel.
#pragma once

#include "app/FormLayout.h"
#include "ui/Controls.h"
#include "ui/ObjectWindow.h"

#include <windows.h>

#include <memory>

namespace qm {

class TSetupForm final : private ui::TWindowOwner {
public:
    static constexpr int mrNone = 0;
    static constexpr int mrOk = IDOK;
    static constexpr int mrCancel = IDCANCEL;

    // Owner: the main window, disabled while the dialog is shown. Raises
    // qm::Exception when the window cannot be created.
    explicit TSetupForm(HWND Owner);
    ~TSetupForm();
    TSetupForm(const TSetupForm&) = delete;
    TSetupForm& operator=(const TSetupForm&) = delete;

    // Shows the dialog centred on the screen with the owner disabled and
    // dispatches the thread's messages (the application's, with this
    // dialog's keyboard handling in front) until OK, Cancel or the close
    // button ends it; then hides it, enables the owner again and returns
    // mrOk or mrCancel. mrCancel at once when it is already showing or the
    // application was told to end. Exceptions raised by handlers that run
    // meanwhile leave ShowModal after the dialog was hidden.
    int ShowModal();
    bool Showing() const { return showing_; }
    HWND Handle() const { return window_.get(); }
    UINT Dpi() const { return dpi_; }

    // Controls, in declaration order.
    ui::TLabel Label1; // the labels size their width to their text
    ui::TEdit EProxy;     // empty at start
    ui::TEdit EProxyport; // "80" at start
    ui::TLabel Label2;
    ui::TButton Button1; // "&OK", default button
    ui::TButton Button2; // "&Cancel"
    ui::TEdit EUser;
    ui::TEdit EPass;
    ui::TLabel Label3;
    ui::TLabel Label4;
    ui::TControl Bevel1; // the line above the buttons

private:
    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override;
    void LayOut(UINT Dpi);
    void EndModal(int Result);

    int modalResult_ = mrNone;
    bool showing_ = false;
    HWND lastFocus_ = nullptr; // focus to give back at the next showing
    UINT dpi_ = 96;
    std::unique_ptr<TFormFonts> fonts_;
    ui::TWindowHandle window_; // last: goes first when the dialog is destroyed
};

} // namespace qm
