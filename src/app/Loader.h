// TaForm, the program's main window: the logo, the notice, the file list
// view, the Start and Cancel buttons, the progress bar and status labels,
// the proxy button, and the download run (Run, DownloadRun.h) with its two
// non-visual components HttpCli1 (downloads) and LzhD1 (unpacking). The
// window shows what the run reports through TRunObserver and stores none of
// the run's state.
//
// Window states (TWindowState; SetWindowState sets the captions):
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
//                     HandleDialogKeys, ServerBaseURL,
//                     FinishClose
//   LoaderRun.cpp     StartDownloadRun, CancelDownloadRun, SetWindowState,
//                     the observer's calls, HttpCli1DocData, LVChanging
//   LoaderDisks.cpp   RunSetup, MakeDisks
#pragma once

#include "app/AppSeams.h"
#include "app/DownloadRun.h"
#include "app/FormLayout.h"
#include "ui/Controls.h"
#include "ui/PaintPacer.h"
#include "ui/ObjectWindow.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qm {

class TSetupForm;

class TaForm final : private ui::TWindowOwner, private TRunObserver {
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
    ui::TImageList ImageList1; // the two 16 x 16 row images (owned here)
    ui::TProgressBar PBar;     // 0..100 at start
    ui::TLabel Label3;         // the notice; a click opens the mail link
    ui::TControl Bevel1;       // etched frame around Label3
    ui::TSpeedButton SpeedButton1; // the proxy glyph button

    // ---- the download run and what the window names of it ----
    TDownloadRun Run;
    THttpCli& HttpCli1 = Run.HttpCli1;
    TLzhD& LzhD1 = Run.LzhD1;
    std::string& DownloadDir = Run.DownloadDir;   // set by FormCreate
    std::string& SystemDir = Run.SystemDir;       // set by FormCreate
    std::int32_t& CompleteAtLoad = Run.CompleteAtLoad;
    std::string CurrentFile; // the target MakeDisks copies
    bool InstallStarted = false;

    enum class TWindowState : std::uint8_t {
        Idle,         // SBStart "&Start" enabled,      SBCancel "&Close",      arrow
        Transferring, // SBStart "&Start" disabled,     SBCancel "&Cancel",     hourglass
        Complete,     // SBStart "&Install QM" enabled, SBCancel "&Make Disks", arrow
        DisksWritten, // SBStart "&Install QM" enabled, SBCancel "&Close",      arrow
    };
    TWindowState WindowState() const { return state_; }
    // Sets the captions, Start's enabled state (never while RunInProgress)
    // and the cursor of State.
    void SetWindowState(TWindowState State);

    // ---- state of a download run (kept by SBStartClick) ----
    // True from the start of StartDownloadRun until it has returned, also
    // while it waits after a Cancel: Start is enabled again only when it has
    // returned, so two runs (or two decompressions) never overlap.
    bool RunInProgress = false;
    // The window was closed while a run (or Make Disks) was in progress: the transfer was
    // aborted and the run must end at once, silently (no message box, no
    // further request, no unpacking); SBStartClick finishes the close once
    // the run has returned.
    bool ClosePending = false;

    // ---- handlers (published) ----
    // Sets the arrow cursor, then by the window state: Complete runs
    // MakeDisks, Transferring CancelDownloadRun, any other closes the window.
    void SBCancelClick();
    // RunSetup in the Complete and DisksWritten states, otherwise one
    // download run (StartDownloadRun) between RunInProgress true and false;
    // in a current folder that cannot hold the files, FormCreate's message
    // again instead of a run.
    void SBStartClick();
    // Sets the unit variables and creates DownloadDir; a current folder
    // whose name has no ANSI form is reported in a message.
    void FormCreate();
    void FormClose();
    // AllowChange: true only while HttpCli1 is hsReady.
    bool LVChanging();
    void Label3Click();
    // The byte count and bar for HttpCli1.RcvdCount(), on the clock.
    void HttpCli1DocData();
    void SpeedButton1Click();

    // The shell link behind Label3.
    static constexpr const char* SupportMailLink = "mailto:support@quillmark.example";

private:
    // ---- LoaderRun.cpp ----
    // One download run, called by SBStartClick with RunInProgress set; shows
    // its outcome.
    void StartDownloadRun();
    void ShowOutcome(const TRunOutcome& Outcome);
    // The "&Cancel" action. Leaves SBStart disabled while RunInProgress:
    // SBStartClick enables it when the run has returned.
    void CancelDownloadRun();
    // The byte count and the bar, redrawn at most every ProgressInterval
    // milliseconds unless Force.
    void ShowProgress(std::int64_t Bytes, bool Force);
    // The bar's range for Size bytes (the file or the check in progress).
    void ShowProgressOf(std::int64_t Size);
    // Caption of LStat or LPercent, paced with the other changes of a run.
    void SetLabel(ui::TLabel& Label, const std::string& Text);
    void ListLoaded(const std::vector<TRow>& Rows) override;
    void RowStarted(int Index, std::int32_t Size) override;
    void CheckStarted(std::int64_t Bytes) override;
    void Progress(std::int64_t Bytes, bool Final) override;
    void StatusWord(const std::string& Text) override;
    void RowPlaced(int Index) override;
    void ProcessMessages() override;

    // ---- LoaderDisks.cpp ----
    void RunSetup();
    void MakeDisks();

    // ---- LoaderForm.cpp ----
    // The server base URL, descrambled anew on each call.
    std::string ServerBaseURL() const;
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
    TWindowState state_ = TWindowState::Idle;
    bool disksInProgress_ = false; // MakeDisks is on the stack (in a message box)
    // The bar runs over at most ProgressSteps steps, so that it is redrawn
    // only when the drawn fraction changes; the texts follow a clock.
    static constexpr std::int32_t ProgressSteps = 1000;
    static constexpr ULONGLONG ProgressInterval = 100;
    // The list, the labels and the bar are painted at most once a progress
    // interval while a run changes them faster.
    ui::TPaintPacer paints_{ProgressInterval};
    std::int64_t progressSize_ = 1; // the listed size of the file (or the bytes to check) in progress
    ULONGLONG progressShown_ = 0;   // tick count of the last redraw
    ULONGLONG messagesProcessed_ = 0; // tick count of the decoder's last message pass
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
