// TaForm: creation and closing of the form, the button dispatch by caption,
// the mail link and the proxy dialog.
#include "app/Loader.h"

#include "app/Extra.h"
#include "base/ExtraStr.h"
#include "base/ScopeExit.h"
#include "app/proxyset.h"
#include "http/HttpProtText.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"

#include <functional>

namespace qm {
namespace {

// A text the system writes into a caller's buffer, whatever its length:
// Fill(nullptr, 0) tells the size needed (with the terminating 0).
std::string SystemText(const std::function<DWORD(char*, DWORD)>& Fill)
{
    std::string text;
    DWORD needed = Fill(nullptr, 0);
    while (needed > text.size()) {
        text.resize(needed);
        needed = Fill(text.data(), static_cast<DWORD>(text.size()));
    }
    text.resize(needed); // the count written, without the terminating 0
    return text;
}

// The program's files go through ANSI calls, which cannot open such a folder.
constexpr const char* NoAnsiFolderMessage =
    "The name of the current folder has characters that this system's code page cannot show, "
    "so the files cannot be stored there:\r\n";
constexpr const char* NoAnsiFolderAdvice = "\r\nStart the program from a folder whose name has none of them.";

constexpr const char* DeletePrompt =
    "Do you wish to delete the downloaded files?\r\n"
    "If Quillmark Veldra has been installed successfully,\r\n"
    "you can delete them to save the hard disk space.\r\n"
    "Otherwise, click \"No\" so you do not have to download\r\n"
    "them again.";
constexpr const char* InstalledMessage =
    "Now you can run Quillmark. To run,\r\n"
    "click \"Start,\" select \"Programs\" and \"Quillmark.\"\r\n"
    "Good luck and happy studying!";

} // namespace

void TaForm::Show()
{
    CenterOnScreen(Handle());
    ShowWindow(Handle(), SW_SHOW);
    UpdateWindow(Handle());
    LV.SetFocus();
}

bool TaForm::HandleDialogKeys(MSG& Msg) const
{
    const HWND form = Handle();
    return (Msg.hwnd == form || IsChild(form, Msg.hwnd)) && IsDialogMessageA(form, &Msg);
}

void TaForm::Close()
{
    SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

std::string TaForm::ServerBaseURL() const
{
    return DescrambleText(scrambledServerBaseURL_);
}

void TaForm::FormCreate()
{
    Run.ReleaseFileList();
    CompleteAtLoad = 0;
    std::string current;
    folderProblem_.clear();
    if (!CurrentFolderAnsi(current)) {
        folderProblem_ = NoAnsiFolderMessage + current + NoAnsiFolderAdvice;
        ui::ShowMessage(Handle(), folderProblem_);
    }
    DownloadDir = PathInFolder(current, "veldratp");
    Run.LogFile = PathInFolder(current, TRunLog::FileName); // beside the downloads: deleting them keeps it
    Run.SequenceFile = PathInFolder(current, KeptSequenceFileName); // so does the floor
    Run.MinSequence = seams_.MinSequence;
    SystemDir = SystemText([this](char* Buffer, DWORD Size) { return seams_.GetWindowsDirectoryA(Buffer, Size); }) +
                "\\system";
    CreateDirectoryA(DownloadDir.c_str(), nullptr); // it may exist from an earlier run
}

void TaForm::FormClose()
{
    if (closed_ || closing_)
        return;
    ui::SetScreenCursor(ui::crDefault);
    if (RunInProgress || disksInProgress_) {
        // A run (in Get or Decompress) or Make Disks (in a message box) is
        // waiting further down this stack: end the transfer and let its
        // handler finish the close once it has returned, so nothing it
        // still uses is released under it.
        ClosePending = true;
        if (RunInProgress)
            Run.Close();
        return;
    }
    FinishClose();
}

void TaForm::FinishClose()
{
    closing_ = true;
    ClosePending = false;
    if (CompleteAtLoad > 0 &&
        ui::ShowMessageBox(Handle(), DeletePrompt, "Confirm", MB_YESNO | MB_ICONQUESTION) == IDYES) {
        Run.DeleteTemporaries();
        DeleteFilesIn(DownloadDir);
    }
    if (InstallStarted)
        ui::ShowMessage(Handle(), InstalledMessage);
    Run.ReleaseFileList();
    closed_ = true;
    closing_ = false;
    ShowWindow(Handle(), SW_HIDE);
}

void TaForm::SBStartClick()
{
    if (RunInProgress) // Start is disabled then; a second run must never begin
        return;
    if (state_ == TWindowState::Complete || state_ == TWindowState::DisksWritten) {
        RunSetup();
        return;
    }
    if (!folderProblem_.empty()) {
        ui::ShowMessage(Handle(), folderProblem_); // rather than a run that cannot store a file
        return;
    }
    {
        RunInProgress = true;
        const TScopeExit done([this] { RunInProgress = false; });
        StartDownloadRun();
    }
    if (ClosePending)
        FinishClose();
    else // Start stayed disabled while the run was on its way out
        SBStart.SetEnabled(state_ != TWindowState::Transferring);
}

void TaForm::SBCancelClick()
{
    ui::SetScreenCursor(ui::crDefault);
    if (state_ == TWindowState::Complete) {
        {
            disksInProgress_ = true;
            const TScopeExit done([this] { disksInProgress_ = false; });
            MakeDisks();
        }
        if (ClosePending)
            FinishClose();
    } else if (state_ == TWindowState::Transferring)
        CancelDownloadRun();
    else
        Close();
}

void TaForm::Label3Click()
{
    seams_.ShellExecuteA(nullptr, "open", SupportMailLink, nullptr, nullptr, SW_SHOWNORMAL);
}

void TaForm::SpeedButton1Click()
{
    if (!SetupForm || SetupForm->ShowModal() != TSetupForm::mrOk)
        return;
    HttpCli1.Proxy = SetupForm->EProxy.Text();
    HttpCli1.ProxyPort = SetupForm->EProxyport.Text();
    HttpCli1.Username = SetupForm->EUser.Text();
    HttpCli1.Password = SetupForm->EPass.Text();
}

} // namespace qm
