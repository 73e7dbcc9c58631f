// TaForm: the window, its controls and their layout, and the dispatch of the
// window's messages to the handlers.
#include "app/Loader.h"

#include "app/Resources.h"
#include "base/ExtraStr.h"
#include "ui/Application.h"
#include "ui/Cursor.h"

#include <commctrl.h>

#include <array>

namespace qm {
namespace {

// Control ids; 1 and 2 stay free (IDOK and IDCANCEL come from keyboard
// handling in a dialog-style message loop).
enum : int {
    IdImage1 = 101,
    IdSpeedButton1,
    IdLabel1,
    IdLV,
    IdSBStart,
    IdSBCancel,
    IdLStat,
    IdLPercent,
    IdPBar,
    IdBevel1,
    IdLabel3,
};

constexpr int ClientWidth = 358;
constexpr int ClientHeight = 260;

constexpr const char* Notice =
    "This program will download all necessary files to install Quillmark Veldra. If the connection is broken "
    "during the transaction, run this program again. It will continue to download from the point it lost the "
    "connection. Good luck and happy studying!";
constexpr const char* LegalNotice =
    "Quillmark Veldra (c) Quillmark Learning. All rights reserved. "
    "Questions? Write to support@quillmark.example";

// In creation order, which is the tab order: LV first, PBar second.
constexpr std::array<TChildSpec, 11> Children{{
    {WC_LISTVIEWA, WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER | LVS_SHAREIMAGELISTS, WS_EX_CLIENTEDGE,
     IdLV, 18, 111, 181, 90, ""},
    {PROGRESS_CLASSA, 0, 0, IdPBar, 208, 188, 132, 13, ""},
    {"STATIC", SS_OWNERDRAW, 0, IdImage1, 18, 12, 187, 23, ""},
    {ui::SpeedButtonClass, 0, 0, IdSpeedButton1, 315, 12, 25, 25, ""},
    {"STATIC", SS_LEFT | SS_NOPREFIX, 0, IdLabel1, 18, 44, 322, 57, Notice},
    {ui::SpeedButtonClass, 0, 0, IdSBStart, 208, 112, 132, 22, "&Start", TFontRole::Bold},
    {ui::SpeedButtonClass, 0, 0, IdSBCancel, 208, 136, 132, 22, "&Close", TFontRole::Bold},
    {"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, IdLStat, 209, 172, 31, 14, "Ready"},
    {"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, IdLPercent, 273, 172, 3, 14, ""},
    {"STATIC", SS_CENTER | SS_NOPREFIX | SS_NOTIFY, 0, IdLabel3, 24, 220, 312, 24, LegalNotice, TFontRole::Small},
    // Drawn by the form; below Label3, which it does not paint over.
    {"STATIC", SS_OWNERDRAW | WS_CLIPSIBLINGS, 0, IdBevel1, 18, 216, 322, 30, ""},
}};

HWND Child(HWND Form, int Id)
{
    return GetDlgItem(Form, Id);
}

} // namespace

TaForm::TaForm(std::string ScrambledServerBaseURL, TAppSeams Seams)
    : Run([this] { return ServerBaseURL(); }, Seams.ReleasePublicKey),
      scrambledServerBaseURL_(std::move(ScrambledServerBaseURL)), seams_(std::move(Seams))
{
    for (const std::string& scrambled : seams_.ScrambledMirrorBaseURLs)
        Run.Mirrors.emplace_back([scrambled] { return DescrambleText(scrambled); });
    ui::RegisterSpeedButtonClass();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    const HINSTANCE instance = GetModuleHandleA(nullptr);
    ui::TWindowClass windowClass{"QmLoaderForm"};
    windowClass.Cursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.Background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.Icon = LoadIconA(instance, MAKEINTRESOURCEA(QM_IDI_MAIN));
    ui::TWindowPlace place;
    place.Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    place.X = place.Y = CW_USEDEFAULT;
    place.Caption = "Quillmark Loader";
    window_ = ui::CreateOwnedWindow(*this, windowClass, place);

    CreateControls();
    Run.Observer = this;
    FormCreate();
}

TaForm::~TaForm() = default;

void TaForm::CreateControls()
{
    const HWND form = Handle();
    CreateChildren(form, Children);
    Image1 = ui::TControl(Child(form, IdImage1));
    Label1 = ui::TLabel(Child(form, IdLabel1));
    LStat = ui::TLabel(Child(form, IdLStat));
    LPercent = ui::TLabel(Child(form, IdLPercent));
    SBStart = ui::TSpeedButton(Child(form, IdSBStart));
    SBCancel = ui::TSpeedButton(Child(form, IdSBCancel));
    LV = ui::TListView(Child(form, IdLV));
    PBar = ui::TProgressBar(Child(form, IdPBar));
    Label3 = ui::TLabel(Child(form, IdLabel3));
    Bevel1 = ui::TControl(Child(form, IdBevel1));
    SpeedButton1 = ui::TSpeedButton(Child(form, IdSpeedButton1));

    // Drawn off the screen and put there in one piece: no erased rows flash
    // white between two frames, and under Wine it draws several times faster.
    SendMessageA(LV.Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LV.AddColumn(0, "File", 104, LVCFMT_LEFT);
    LV.AddColumn(1, "Size", 55, LVCFMT_RIGHT);
    PBar.SetMax(100);
    paints_.SetOwner(form);
    LayOut(WindowDpi(form));
}

void TaForm::LayOut(UINT Dpi)
{
    fonts_ = LayOutChildren(Handle(), Children, ClientWidth, ClientHeight, Dpi); // the old fonts go after
    dpi_ = Dpi;
    LStat.SetCaption(LStat.Caption()); // the auto-sized labels fit their text again
    LPercent.SetCaption(LPercent.Caption());
    SendMessageA(LV.Handle(), LVM_SETCOLUMNWIDTH, 0, ScaleForDpi(104, Dpi));
    SendMessageA(LV.Handle(), LVM_SETCOLUMNWIDTH, 1, ScaleForDpi(55, Dpi));
    LoadImages(Dpi);
}

void TaForm::LoadImages(UINT Dpi)
{
    const int side = ScaleForDpi(16, Dpi);
    ui::TImageList rows(ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, 2, 0));
    for (const int id : {QM_IDB_ROW_FETCH, QM_IDB_ROW_DONE}) {
        const TBitmapHandle row = LoadBitmapResource(id, side, side);
        ImageList_AddMasked(rows.Handle(), row.get(), RGB(255, 0, 255));
    }
    SendMessageA(LV.Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rows.Handle()));
    ImageList1 = std::move(rows); // the list view shares it; the old list goes now

    logo_ = LoadBitmapResource(QM_IDB_LOGO, 0, 0);
    TBitmapHandle glyph = LoadBitmapResource(QM_IDB_PROXY, side, side);
    SendMessageA(SpeedButton1.Handle(), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(glyph.get()));
    glyph_ = std::move(glyph);
    Image1.Repaint();
}

// The logo has premultiplied alpha: blended over the form's face colour it
// looks the same on any colour scheme, and it is stretched for the DPI.
void TaForm::DrawLogo(const DRAWITEMSTRUCT& Item) const
{
    FillRect(Item.hDC, &Item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    BITMAP bm{};
    GetObjectA(logo_.get(), sizeof bm, &bm);
    const HDC source = CreateCompatibleDC(Item.hDC);
    const HGDIOBJ old = SelectObject(source, logo_.get());
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(Item.hDC, Item.rcItem.left, Item.rcItem.top, Item.rcItem.right - Item.rcItem.left,
               Item.rcItem.bottom - Item.rcItem.top, source, 0, 0, bm.bmWidth, bm.bmHeight, blend);
    SelectObject(source, old);
    DeleteDC(source);
}

void TaForm::OnCommand(WPARAM WParam)
{
    const int code = HIWORD(WParam);
    if (code != BN_CLICKED) // STN_CLICKED is BN_CLICKED's value too
        return;
    switch (LOWORD(WParam)) {
    case IdSBStart:
        SBStartClick();
        break;
    case IdSBCancel:
        SBCancelClick();
        break;
    case IdSpeedButton1:
        SpeedButton1Click();
        break;
    case IdLabel3:
        Label3Click();
        break;
    default:
        break;
    }
}

LRESULT TaForm::OnNotify(const NMHDR& Header)
{
    if (Header.hwndFrom == LV.Handle() && Header.code == LVN_ITEMCHANGING)
        return LVChanging() ? FALSE : TRUE; // TRUE refuses the change
    return 0;
}

LRESULT TaForm::OnSetCursor(WPARAM WParam, LPARAM LParam)
{
    if (ui::ApplyScreenCursor())
        return TRUE;
    if (reinterpret_cast<HWND>(WParam) == Label3.Handle() && LOWORD(LParam) == HTCLIENT) {
        SetCursor(LoadCursorA(nullptr, IDC_HAND));
        return TRUE;
    }
    return DefWindowProcA(Handle(), WM_SETCURSOR, WParam, LParam);
}

// As a dialog does: the control that had the focus gets it back when the
// window is activated again (after the proxy dialog or a message box).
void TaForm::OnActivate(bool Active)
{
    if (!Active) {
        const HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus))
            lastFocus_ = focus;
    } else {
        SetFocus(lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : LV.Handle());
    }
}

LRESULT TaForm::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    switch (Msg) {
    case WM_COMMAND:
        OnCommand(WParam);
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(LParam));
    case WM_DRAWITEM:
        if (WParam == IdImage1 && logo_)
            DrawLogo(*reinterpret_cast<const DRAWITEMSTRUCT*>(LParam));
        else if (WParam == IdBevel1)
            DrawBevel(*reinterpret_cast<const DRAWITEMSTRUCT*>(LParam), BF_RECT);
        return TRUE;
    case WM_SETCURSOR:
        return OnSetCursor(WParam, LParam);
    case WM_TIMER:
        if (WParam != ui::TPaintPacer::TimerId)
            break;
        paints_.FrameEnded();
        return 0;
    case WM_CLOSE:
        FormClose();
        return 0;
    case WM_ACTIVATE:
        if (!HIWORD(WParam)) // not while minimised
            OnActivate(LOWORD(WParam) != WA_INACTIVE);
        return 0;
    case WM_DPICHANGED:
        LayOut(HIWORD(WParam));
        MoveToSuggestedRect(Wnd, LParam);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(Wnd, Msg, WParam, LParam);
}

} // namespace qm
