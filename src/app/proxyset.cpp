#include "app/proxyset.h"

#include "ui/Application.h"
#include "ui/Cursor.h"

#include <array>

namespace qm {
namespace {

enum : int {
    IdButton2 = 102, // not IDCANCEL: Escape must not press it
    IdLabel1,
    IdEProxy,
    IdLabel2,
    IdEProxyport,
    IdLabel3,
    IdEUser,
    IdLabel4,
    IdEPass,
    IdBevel1,
};

constexpr int ClientWidth = 248;
constexpr int ClientHeight = 189;
constexpr DWORD EditStyle = WS_TABSTOP | ES_AUTOHSCROLL;
// One line that sizes its width to the text (ui::TLabel), like the edits'
// captions should: a font with other metrics must not wrap "Proxy port:".
constexpr DWORD LabelStyle = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

// In tab order: proxy, port, OK, Cancel, user name, password.
constexpr std::array<TChildSpec, 11> Children{{
    {"STATIC", LabelStyle, 0, IdLabel1, 20, 18, 31, 14, "Proxy:"},
    {"EDIT", EditStyle, WS_EX_CLIENTEDGE, IdEProxy, 76, 16, 151, 22, ""},
    {"STATIC", LabelStyle, 0, IdLabel2, 20, 46, 53, 14, "Proxy port:"},
    {"EDIT", EditStyle, WS_EX_CLIENTEDGE, IdEProxyport, 76, 44, 151, 22, "80"},
    {"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK, 38, 152, 75, 25, "&OK"},
    {"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, IdButton2, 142, 152, 75, 25, "&Cancel"},
    {"STATIC", LabelStyle, 0, IdLabel3, 20, 75, 55, 14, "User name:"},
    {"EDIT", EditStyle, WS_EX_CLIENTEDGE, IdEUser, 76, 72, 151, 22, ""},
    {"STATIC", LabelStyle, 0, IdLabel4, 20, 103, 53, 14, "Password:"},
    {"EDIT", EditStyle, WS_EX_CLIENTEDGE, IdEPass, 76, 100, 151, 22, ""},
    // An etched line along the top of the band, drawn by the form.
    {"STATIC", SS_OWNERDRAW, 0, IdBevel1, 0, 136, 250, 5, ""},
}};

} // namespace

TSetupForm::TSetupForm(HWND Owner)
{
    ui::TWindowClass windowClass{"QmSetupForm"};
    windowClass.Cursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.Background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    ui::TWindowPlace place;
    place.ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    place.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    place.Parent = Owner; // a popup's "parent" is its owner
    place.Caption = "HTTP Proxy Setup";
    window_ = ui::CreateOwnedWindow(*this, windowClass, place);

    const HWND form = Handle();
    CreateChildren(form, Children);
    Label1 = ui::TLabel(GetDlgItem(form, IdLabel1));
    EProxy = ui::TEdit(GetDlgItem(form, IdEProxy));
    EProxyport = ui::TEdit(GetDlgItem(form, IdEProxyport));
    Label2 = ui::TLabel(GetDlgItem(form, IdLabel2));
    Button1 = ui::TButton(GetDlgItem(form, IDOK));
    Button2 = ui::TButton(GetDlgItem(form, IdButton2));
    EUser = ui::TEdit(GetDlgItem(form, IdEUser));
    EPass = ui::TEdit(GetDlgItem(form, IdEPass));
    Label3 = ui::TLabel(GetDlgItem(form, IdLabel3));
    Label4 = ui::TLabel(GetDlgItem(form, IdLabel4));
    Bevel1 = ui::TControl(GetDlgItem(form, IdBevel1));
    LayOut(WindowDpi(form));
}

TSetupForm::~TSetupForm() = default;

void TSetupForm::LayOut(UINT Dpi)
{
    fonts_ = LayOutChildren(Handle(), Children, ClientWidth, ClientHeight, Dpi); // the old fonts go after
    dpi_ = Dpi;
    for (ui::TLabel* label : {&Label1, &Label2, &Label3, &Label4})
        label->SetCaption(label->Caption());
}

int TSetupForm::ShowModal()
{
    if (showing_ || ui::Application().Terminated())
        return mrCancel;
    const HWND form = Handle();
    const HWND owner = GetWindow(form, GW_OWNER);
    // This dialog's keys (Tab, Enter, mnemonics) first, then whatever hook
    // the application had.
    const ui::TApplication::TMessageEvent outer = ui::Application().OnMessage();
    const ui::TMessageHookGuard keys([form, outer](MSG& Msg) {
        return IsDialogMessageA(form, &Msg) != FALSE || (outer && outer(Msg));
    });
    modalResult_ = mrNone;
    showing_ = true;
    EnableWindow(owner, FALSE);
    CenterOnScreen(form);
    ShowWindow(form, SW_SHOW);
    SetFocus(lastFocus_ ? lastFocus_ : EProxy.Handle());
    struct TRestore { // also when a handler's exception leaves the loop
        TSetupForm& Form;
        HWND Owner;
        ~TRestore()
        {
            const HWND focus = GetFocus();
            if (focus && IsChild(Form.Handle(), focus))
                Form.lastFocus_ = focus;
            EnableWindow(Owner, TRUE); // before hiding, so the owner is activated again
            ShowWindow(Form.Handle(), SW_HIDE);
            Form.showing_ = false;
        }
    } restore{*this, owner};
    while (modalResult_ == mrNone) {
        if (ui::Application().Terminated())
            modalResult_ = mrCancel;
        else
            ui::Application().HandleMessage();
    }
    return modalResult_;
}

void TSetupForm::EndModal(int Result)
{
    if (showing_)
        modalResult_ = Result;
}

LRESULT TSetupForm::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    switch (Msg) {
    case WM_COMMAND:
        if (HIWORD(WParam) == BN_CLICKED && LOWORD(WParam) == IDOK)
            EndModal(mrOk);
        else if (HIWORD(WParam) == BN_CLICKED && LOWORD(WParam) == IdButton2)
            EndModal(mrCancel);
        return 0; // IDCANCEL (Escape) does nothing
    case WM_DRAWITEM:
        if (WParam == IdBevel1)
            DrawBevel(*reinterpret_cast<const DRAWITEMSTRUCT*>(LParam), BF_TOP);
        return TRUE;
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CLOSE:
        EndModal(mrCancel);
        return 0;
    case WM_SETCURSOR:
        return ui::ApplyScreenCursor() ? TRUE : DefWindowProcA(Wnd, Msg, WParam, LParam);
    case WM_DPICHANGED:
        LayOut(HIWORD(WParam));
        MoveToSuggestedRect(Wnd, LParam);
        return 0;
    default:
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    }
}

} // namespace qm
