// TaForm, the program's main window: the logo, the notice, the file list
// view, the Start and Cancel buttons whose captions carry the window's state,
// the progress bar and status labels, the proxy button, and the two
// non-visual components HttpCli1 (downloads) and LzhD1 (unpacking).
//
// Window states, carried by the button captions (compared exactly):
//   idle          SBStart "&Start" enabled,      SBCancel "&Close",      arrow
//   transferring  SBStart "&Start" disabled,     SBCancel "&Cancel",     hourglass
//   complete      SBStart "&Install QM" enabled, SBCancel "&Make Disks", arrow
//   disks written SBStart "&Install QM" enabled, SBCancel "&Close",      arrow
//
// Life cycle: the constructor creates the window hidden with its controls,
// then runs FormCreate. Show() shows it centred. Closing (the title bar,
// Close(), or SBCancel's "&Close") runs FormClose once, hides the window and
// makes Closed() true: the program's loop then ends. The destructor destroys
// the window; it must not run while a handler of this form is on the stack.
//
// One set of the "unit variables" per form (the members below), so that a
// test may create several forms in one process.
//
// Everything runs on the GUI thread. Handlers are called from the window's
// messages (button clicks, list view notifications, WM_CLOSE) or directly by
// tests; HttpCli1's and LzhD1's waits dispatch messages, so SBCancelClick,
// SpeedButton1Click, LVChanging and FormClose can run while a download run
// is inside Get or Decompress.
//
// Files:
//   LoaderWindow.cpp  constructor, destructor, window and controls, layout
//                     for the DPI, images, WindowProc and the dispatch to
//                     handlers, focus kept across activation
//   LoaderForm.cpp    FormCreate, FormClose, Label3Click, SpeedButton1Click,
//                     SBStartClick, SBCancelClick, Close, Show,
//                     HandleDialogKeys, ServerBaseURL, ServerHostName,
//                     FinishClose
//   LoaderRun.cpp     DownloadFile, LoadFileList, StartDownloadRun,
//                     CancelDownloadRun, HttpCli1DocData,
//                     HttpCli1StateChange, LVChanging
//   LoaderUnpack.cpp  UnpackCurrentFile, RunSetup, MakeDisks
//   LoaderVerify.cpp  CheckListSignature, ExpectedHash
#pragma once

#include "app/AppSeams.h"
#include "app/FormLayout.h"
#include "app/ListHash.h"
#include "base/StringList.h"
#include "http/HttpProt.h"
#include "lzh/LzhD.h"
#include "ui/Controls.h"
#include "ui/ObjectWindow.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qm {

class TSetupForm;

class TaForm final : private ui::TWindowOwner {
public:
    // ScrambledServerBaseURL: the server's base URL in the form ScrambleText
    // makes (the program passes BuiltInServerBaseURL()); descrambled each
    // time a URL is formed. Raises qm::Exception when the window cannot be
    // created.
    explicit TaForm(std::string ScrambledServerBaseURL, TAppSeams Seams = {});
    ~TaForm();
    TaForm(const TaForm&) = delete;
    TaForm& operator=(const TaForm&) = delete;

    HWND Handle() const { return window_.get(); }
    // Shows the window centred on the screen and activates it.
    void Show();
    // Closes the window as its title bar's close button does (WM_CLOSE).
    void Close();
    // FormClose has run; the window is hidden and the program ends.
    bool Closed() const { return closed_; }
    // The DPI the controls are laid out for (96: the positions as designed).
    UINT Dpi() const { return dpi_; }
    // For the application's message hook: the window's keys as in a dialog
    // (Tab between its controls, the buttons' Alt+letter mnemonics; Enter
    // and Escape do nothing). True when Msg was handled.
    bool HandleDialogKeys(MSG& Msg) const;

    // The proxy dialog, created by the program entry after this form; not
    // owned. SpeedButton1Click does nothing while it is null.
    TSetupForm* SetupForm = nullptr;

    // ---- controls and components, in declaration order ----
    ui::TControl Image1;       // static bitmap: the logo
    ui::TLabel Label1;         // the explanation
    ui::TLabel LStat;          // status word: "Ready", "Looking host", ...
    ui::TLabel LPercent;       // byte count: "1234 bytes"
    ui::TSpeedButton SBStart;  // "&Start" / "&Install QM"
    ui::TSpeedButton SBCancel; // "&Close" / "&Cancel" / "&Make Disks"
    ui::TListView LV;          // columns "File" and "Size"; image 0 to fetch, 1 complete
    TLzhD LzhD1;               // OnProcessMessages: Application().ProcessMessages
    ui::TImageList ImageList1; // the two 16 x 16 row images (owned here)
    ui::TProgressBar PBar;     // 0..100 at start
    ui::TLabel Label3;         // the notice; a click opens the mail link
    ui::TControl Bevel1;       // etched frame around Label3
    THttpCli HttpCli1;         // ProxyPort "80"; OnDocData, OnStateChange bound
    ui::TSpeedButton SpeedButton1; // the proxy glyph button

    // ---- unit variables ----
    std::string DownloadDir;   // current directory at FormCreate + "\veldratp"
    std::string SystemDir;     // Windows directory + "\system"
    TStringList FileList;      // list.txt with field 4 resolved; cleared by FormClose
    std::int32_t CurrentIndex = 0;
    std::string CurrentFile;
    std::int32_t CurrentSize = 0;
    std::int32_t CompleteAtLoad = 0; // complete rows found, over every loading
    std::string LastMessage;         // outcome text of the last DownloadFile
    bool InstallStarted = false;
    bool CancelRequested = false;

    // ---- state of a download run (kept by SBStartClick) ----
    // True from the start of StartDownloadRun until it has returned, also
    // while it waits after a Cancel: Start is enabled again only when it has
    // returned, so two runs (or two decompressions) never overlap.
    bool RunInProgress = false;
    // The window was closed while a run was in progress: the transfer was
    // aborted and the run must end at once, silently (no message box, no
    // further request, no unpacking); SBStartClick finishes the close once
    // the run has returned.
    bool ClosePending = false;

    // ---- handlers (published) ----
    // Sets the arrow cursor, then by SBCancel's caption: "&Make Disks" runs
    // MakeDisks, "&Cancel" CancelDownloadRun, anything else closes the window.
    void SBCancelClick();
    // CancelRequested := false, then RunSetup when SBStart reads "&Install
    // QM", otherwise one download run (StartDownloadRun) between
    // RunInProgress true and false; in a current folder that cannot hold the
    // files, FormCreate's message again instead of a run.
    void SBStartClick();
    // Sets the unit variables and creates DownloadDir; a current folder
    // whose name has no ANSI form is reported in a message.
    void FormCreate();
    void FormClose();
    // AllowChange: true only while HttpCli1 is hsReady.
    bool LVChanging();
    void Label3Click();
    void HttpCli1DocData();
    void HttpCli1StateChange();
    void SpeedButton1Click();

    // The shell link behind Label3.
    static constexpr const char* SupportMailLink = "mailto:support@quillmark.example";

private:
    // ---- LoaderRun.cpp ----
    // Bytes stored, or -1 when HttpCli1 reported a failure; sets LastMessage.
    // With Expected, the bytes are hashed as they are written, and a digest
    // that differs is a failure too: the file is deleted.
    std::int32_t DownloadFile(const std::string& URL, const std::string& LocalFileName,
                              const TSha256Digest* Expected = nullptr);
    void LoadFileList();
    // One download run, called by SBStartClick with RunInProgress set.
    void StartDownloadRun();
    // The "&Cancel" action. Leaves SBStart disabled while RunInProgress:
    // SBStartClick enables it when the run has returned.
    void CancelDownloadRun();

    // ---- LoaderVerify.cpp ----
    // With a release key: fetches list.txt.sig and verifies list.txt with
    // it. Raises ERunError ("The file list could not be verified: ...") when
    // the signature is missing, malformed or does not match; false when its
    // download failed through Cancel or the window's closing (LastMessage
    // says so). Without a key: true at once.
    bool CheckListSignature();
    // The SHA-256 a list line carries in field 6, or none. Raises ERunError
    // naming line LineNumber (1-based) when the field is not 64 hex digits,
    // or when it is missing while a release key asks for it.
    std::optional<TSha256Digest> ExpectedHash(const std::string& Line, int LineNumber) const;

    // ---- LoaderUnpack.cpp ----
    bool UnpackCurrentFile();
    void RunSetup();
    void MakeDisks();

    // ---- LoaderForm.cpp ----
    // The server base URL, descrambled anew on each call.
    std::string ServerBaseURL() const;
    // The host name of ServerBaseURL (shown after "Looking ").
    std::string ServerHostName() const;
    // FormClose's own work (prompt, deletion, final message, release).
    void FinishClose();

    // ---- LoaderWindow.cpp ----
    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override;
    void CreateControls();
    void LayOut(UINT Dpi);
    void LoadImages(UINT Dpi);
    void DrawLogo(const DRAWITEMSTRUCT& Item) const;
    void OnCommand(WPARAM WParam);
    LRESULT OnNotify(const NMHDR& Header);
    LRESULT OnSetCursor(WPARAM WParam, LPARAM LParam);
    void OnActivate(bool Active);

    std::string scrambledServerBaseURL_;
    TAppSeams seams_;
    UINT dpi_ = 96;
    bool closed_ = false;
    bool closing_ = false; // FormClose is running
    std::string folderProblem_; // why DownloadDir cannot be used; empty when it can
    HWND lastFocus_ = nullptr; // the control to refocus when the window is activated again
    std::unique_ptr<TFormFonts> fonts_;
    TBitmapHandle logo_;  // Image1's picture
    TBitmapHandle glyph_; // SpeedButton1's glyph
    ui::TWindowHandle window_; // last: goes first when the form is destroyed
};

} // namespace qm
