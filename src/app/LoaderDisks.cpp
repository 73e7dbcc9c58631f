// TaForm: starting the setup program, and copying the targets onto two
// diskettes in drive A:.
#include "app/Loader.h"

#include "app/Extra.h"
#include "base/ExtraStr.h"
#include "release/ListRules.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"

#include <exception>

namespace qm {
namespace {

// Copies a target onto the diskette in drive A:, overwriting.
bool CopyToDiskette(const std::string& Target)
{
    return CopyFileTo(Target, "a:\\" + FileNameOf(Target), false);
}

enum class TFirstDisk { Copied, Cancelled, Failed };

// Lines 1 to the last onto the first diskette, asking for another diskette
// at every target named "Disk2". An exception ends the loop as if it were
// through.
TFirstDisk CopyFirstDisk(TaForm& Form)
{
    try {
        const std::vector<TRow>& rows = Form.Run.FileList();
        for (std::size_t i = 1; i < rows.size(); ++i) {
            Form.CurrentFile = rows[i].TargetPath;
            if (FileBaseName(Form.CurrentFile) == "Disk2" &&
                (ui::ShowMessageBox(Form.Handle(), "Insert another blank disk and click OK when ready.", "Change Disk",
                                    MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL ||
                 Form.ClosePending)) // the window was closed under the prompt
                return TFirstDisk::Cancelled;
            if (!CopyToDiskette(Form.CurrentFile))
                return TFirstDisk::Failed;
            Form.PBar.SetPosition(static_cast<int>(i));
        }
    } catch (const std::exception&) {
    }
    return TFirstDisk::Copied;
}

} // namespace

void TaForm::RunSetup()
{
    // Quoted: with a blank in the folder's name, an unquoted path would let
    // "C:\Program.exe" or the like run instead.
    seams_.WinExec("\"" + DownloadDir + "\\setup.exe\"", SW_SHOWNORMAL);
    InstallStarted = true;
}

void TaForm::MakeDisks()
{
    const std::vector<TRow>& rows = Run.FileList();
    if (rows.empty()) {
        ui::ShowMessage(Handle(), "The file list is empty: there is nothing to copy.");
        return;
    }
    ui::ShowMessage(Handle(), "You need two blank 1.44 MB diskettes.\r\n"
                    "Label a blank diskette \"Quillmark Veldra Disk1,\"\r\n"
                    "and insert it into A: drive.");
    if (ClosePending) // the window was closed under the message
        return;
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PBar.SetMax(static_cast<int>(rows.size()) - 1);
    ui::SetScreenCursor(ui::crHourGlass);
    LStat.SetCaption("Copying Disk1...");
    LStat.Repaint();
    switch (CopyFirstDisk(*this)) {
    case TFirstDisk::Cancelled:
        return; // the hourglass and "Copying Disk1..." stay
    case TFirstDisk::Failed:
        ui::ShowMessage(Handle(), "Copy failed.");
        ui::SetScreenCursor(ui::crDefault);
        return;
    case TFirstDisk::Copied:
        break;
    }
    ui::SetScreenCursor(ui::crDefault);
    ui::ShowMessage(Handle(), "Label the other diskette \"Quillmark Veldra Disk2,\"\r\nand insert it into A: drive.");
    if (ClosePending)
        return;
    CurrentFile = rows[0].TargetPath;
    ui::SetScreenCursor(ui::crHourGlass);
    LStat.SetCaption("Copying Disk2...");
    LStat.Repaint();
    PBar.SetPosition(0);
    if (!CopyToDiskette(CurrentFile)) {
        ui::ShowMessage(Handle(), "Copy failed.");
        ui::SetScreenCursor(ui::crDefault);
        return;
    }
    ui::SetScreenCursor(ui::crDefault);
    ui::ShowMessage(Handle(), "Finished.");
    LStat.SetCaption("Finished");
    SetWindowState(TWindowState::DisksWritten);
}

} // namespace qm
