// TaForm: putting a downloaded file in its place, starting the setup
// program, and copying the targets onto two diskettes in drive A:.
#include "app/Loader.h"

#include "app/Extra.h"
#include "base/ExtraStr.h"
#include "release/ListRules.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"

#include <exception>

namespace qm {
namespace {

constexpr std::string_view Tab = "\t";

// Whether two paths name the same file: the setup program's row usually
// gives its own download as its target, and a file is not copied onto itself.
bool SamePath(const std::string& A, const std::string& B)
{
    const auto full = [](const std::string& Path) {
        char buffer[MAX_PATH * 2];
        const DWORD n = GetFullPathNameA(Path.c_str(), sizeof buffer, buffer, nullptr);
        return n > 0 && n < sizeof buffer ? std::string(buffer, n) : Path;
    };
    return TextEquals(full(A), full(B));
}

// Whether the file at Target has the size its list line gives (with the
// rules of a loading of the list): a broken or short download put in place
// must not count as complete.
bool HasInstalledSize(const std::string& Target, const std::string& InstalledSize)
{
    const std::optional<std::int32_t> installed = DecimalValue(InstalledSize);
    return installed && JudgeTargetOnDisk(Target, *installed).Counted;
}

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
        for (int i = 1; i < Form.FileList.Count(); ++i) {
            Form.CurrentFile = GetField(Form.FileList[i], Tab, 4);
            if (FileBaseName(Form.CurrentFile) == "Disk2" &&
                ui::ShowMessageBox(Form.Handle(), "Insert another blank disk and click OK when ready.", "Change Disk",
                                   MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL)
                return TFirstDisk::Cancelled;
            if (!CopyToDiskette(Form.CurrentFile))
                return TFirstDisk::Failed;
            Form.PBar.SetPosition(i);
        }
    } catch (const std::exception&) {
    }
    return TFirstDisk::Copied;
}

} // namespace

bool TaForm::UnpackCurrentFile()
{
    try {
        const int index = LV.FocusedIndex();
        if (index < 0 || index >= FileList.Count())
            return false;
        const std::string line = FileList[index];
        const std::string source = DownloadDir + "\\" + GetField(line, Tab, 3);
        const std::string target = GetField(line, Tab, 4);
        if (GetField(line, Tab, 5) == "yes") {
            if (SamePath(source, target)) // unpacking would cut its own input to nothing
                return false;
            LzhD1.InputFile = source;
            LzhD1.OutputFile = target;
            LzhD1.Decompress();
        } else if (!SamePath(source, target) && !CopyFileTo(source, target, false)) {
            return false;
        }
        if (ClosePending) // the window went while Decompress let messages through
            return false;
        if (!HasInstalledSize(target, GetField(line, Tab, 2))) {
            if (!SamePath(source, target))
                DeleteFileA(target.c_str()); // what was put there is not the file
            return false;
        }
        LV.SetImageIndex(index, 1);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TaForm::RunSetup()
{
    seams_.WinExec(DownloadDir + "\\setup.exe", SW_SHOWNORMAL);
    InstallStarted = true;
}

void TaForm::MakeDisks()
{
    if (FileList.Count() == 0) {
        ui::ShowMessage("The file list is empty: there is nothing to copy.");
        return;
    }
    ui::ShowMessage("You need two blank 1.44 MB diskettes.\r\n"
                    "Label a blank diskette \"Quillmark Veldra Disk1,\"\r\n"
                    "and insert it into A: drive.");
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PBar.SetMax(FileList.Count() - 1);
    ui::SetScreenCursor(ui::crHourGlass);
    LStat.SetCaption("Copying Disk1...");
    LStat.Repaint();
    switch (CopyFirstDisk(*this)) {
    case TFirstDisk::Cancelled:
        return; // the hourglass and "Copying Disk1..." stay
    case TFirstDisk::Failed:
        ui::ShowMessage("Copy failed.");
        ui::SetScreenCursor(ui::crDefault);
        return;
    case TFirstDisk::Copied:
        break;
    }
    ui::SetScreenCursor(ui::crDefault);
    ui::ShowMessage("Label the other diskette \"Quillmark Veldra Disk2,\"\r\nand insert it into A: drive.");
    CurrentFile = GetField(FileList[0], Tab, 4);
    ui::SetScreenCursor(ui::crHourGlass);
    LStat.SetCaption("Copying Disk2...");
    LStat.Repaint();
    PBar.SetPosition(0);
    if (!CopyToDiskette(CurrentFile)) {
        ui::ShowMessage("Copy failed.");
        ui::SetScreenCursor(ui::crDefault);
        return;
    }
    ui::SetScreenCursor(ui::crDefault);
    ui::ShowMessage("Finished.");
    LStat.SetCaption("Finished");
    SBCancel.SetCaption("&Close");
}

} // namespace qm
