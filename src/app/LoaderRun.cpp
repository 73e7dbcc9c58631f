// TaForm: the download run. list.txt is fetched and loaded into the list
// view (with the rules that mark a row complete), then every row that is not
// complete is downloaded and unpacked in list order; progress, status words
// and Cancel.
//
// A run ends in one of four ways:
//  - a download failed (the server, the connection, a broken or
//    incomplete answer, or Cancel): its "Failed : " message; the window
//    stays transferring until Cancel, unless Cancel caused it;
//  - a local error (list.txt unreadable, a file that cannot be created, a
//    bad list line): a message naming it, then idle;
//  - the end of the list: "Transfer terminated." after Cancel; idle with the
//    number of files not put in place when an unpack or copy failed;
//    otherwise "Transfer finished." and the complete state;
//  - the window was closed meanwhile (ClosePending): at once and silently.
#include "app/Loader.h"

#include "app/ExtraStr.h"
#include "app/FileListRules.h"
#include "app/RunError.h"
#include "app/Sha256Cng.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"

#include <charconv>
#include <climits>
#include <optional>
#include <string_view>

namespace qm {
namespace {

constexpr std::string_view Tab = "\t";

// A RemoteName names the downloaded copy in the download directory: only a
// plain file name keeps every write inside that directory.
void CheckRemoteName(const std::string& Name)
{
    if (!IsPlainFileName(Name))
        throw ERunError("The file list names a file that is not a plain file name: \"" + Name + "\"");
}

// The index of the first row at or after From that is not complete.
int NextIncomplete(const ui::TListView& LV, int From)
{
    while (From < LV.Count() && LV.ImageIndex(From) == 1)
        ++From;
    return From;
}

int IncompleteRows(const ui::TListView& LV)
{
    int count = 0;
    for (int row = 0; row < LV.Count(); ++row)
        count += LV.ImageIndex(row) == 1 ? 0 : 1;
    return count;
}

// Focus and selection on Row, scrolled into view: Up and Down move the
// focus away and back the way the keyboard would.
void FocusRow(ui::TListView& LV, int Row)
{
    LV.SetFocus();
    LV.Focus(Row);
    LV.Select(Row);
    if (Row > 0) {
        LV.SendKeyDown(VK_UP);
        LV.SendKeyDown(VK_DOWN);
    }
    LV.Repaint();
}

void EnterIdle(TaForm& Form)
{
    ui::SetScreenCursor(ui::crDefault);
    Form.SBCancel.SetCaption("&Close");
    Form.SBStart.SetEnabled(true);
}

// A failed download has been reported by DownloadFile: its message, then
// idle when Cancel caused it; otherwise the window stays transferring.
void ReportFailedDownload(TaForm& Form)
{
    if (Form.ClosePending)
        return;
    ui::ShowMessage(Form.LastMessage);
    if (Form.CancelRequested)
        EnterIdle(Form);
}

void ReportLocalError(TaForm& Form, const std::exception& Error)
{
    if (Form.ClosePending)
        return;
    ui::SetScreenCursor(ui::crDefault);
    const auto* own = dynamic_cast<const ERunError*>(&Error);
    ui::ShowMessage(own ? own->Message : std::string("The download stopped: ") + Error.what());
    EnterIdle(Form);
}

void EndRun(TaForm& Form)
{
    ui::SetScreenCursor(ui::crDefault);
    if (Form.CancelRequested) {
        ui::ShowMessage("Transfer terminated.\r\nClick \"Start\" to resume downloading.");
        EnterIdle(Form);
        return;
    }
    Form.PBar.SetPosition(0);
    Form.LPercent.SetCaption("");
    if (const int missing = IncompleteRows(Form.LV); missing > 0) {
        ui::ShowMessage(std::to_string(missing) + (missing == 1 ? " file" : " files") +
                        " could not be put in place.\r\nClick \"Start\" to try again.");
        EnterIdle(Form);
        return;
    }
    ui::ShowMessage("Transfer finished.");
    Form.SBStart.SetCaption("&Install QM");
    Form.SBStart.SetEnabled(true);
    Form.SBCancel.SetCaption("&Make Disks");
    Form.LV.DeselectAll();
}

// Sets the client's RcvdStream for one request and clears it again.
class TReceiveInto {
public:
    TReceiveInto(THttpCli& Client, TStream& Stream) : client_(Client) { client_.RcvdStream = &Stream; }
    ~TReceiveInto() { client_.RcvdStream = nullptr; }
    TReceiveInto(const TReceiveInto&) = delete;
    TReceiveInto& operator=(const TReceiveInto&) = delete;

private:
    THttpCli& client_;
};

std::string FailedText(int Status, const std::string& Reason)
{
    return "Failed : " + std::to_string(Status) + " " + Reason;
}

// Why a request that ended without an exception still failed; empty when it
// did not: no status line, a status outside 200-299, or a body whose length
// is not the announced one (the connection broke).
std::string ResponseFault(const THttpCli& Client, std::int64_t Stored)
{
    const int status = Client.StatusCode();
    if (status == 0)
        return FailedText(0, "The server sent no status line");
    if (status < 200 || status > 299)
        return FailedText(status, Client.ReasonPhrase());
    if (const auto length = Client.ContentLength(); length && Stored != *length)
        return FailedText(status, "Connection broken: " + std::to_string(Stored) + " of " +
                                      std::to_string(*length) + " bytes received");
    return {};
}

} // namespace

std::int32_t TaForm::DownloadFile(const std::string& URL, const std::string& LocalFileName,
                                  const TSha256Digest* Expected)
{
    HttpCli1.URL = URL;
    std::optional<TFileStream> file;
    try {
        file.emplace(LocalFileName, TFileStream::Mode::Create);
    } catch (const EStreamError&) {
        throw ERunError("Cannot create the file: " + LocalFileName);
    }
    std::optional<THashingStream> hashing;
    if (Expected)
        hashing.emplace(*file);
    const TReceiveInto receive(HttpCli1, hashing ? static_cast<TStream&>(*hashing) : *file);
    try {
        HttpCli1.Get();
    } catch (const EHttpException&) {
        LastMessage = FailedText(HttpCli1.StatusCode(), HttpCli1.ReasonPhrase());
        return -1;
    }
    const std::int64_t stored = file->Size();
    if (std::string fault = ResponseFault(HttpCli1, stored); !fault.empty()) {
        LastMessage = std::move(fault);
        return -1;
    }
    if (Expected && hashing->Finish() != *Expected) {
        LastMessage = FailedText(HttpCli1.StatusCode(), "The file was damaged or altered on its way: its SHA-256 "
                                                        "hash is not the one in the file list");
        file.reset(); // closed, so that it can be deleted
        DeleteFileA(LocalFileName.c_str());
        return -1;
    }
    LastMessage = "Finished.";
    return static_cast<std::int32_t>(std::min<std::int64_t>(stored, INT32_MAX));
}

void TaForm::LoadFileList()
{
    const std::string listPath = DownloadDir + "\\list.txt";
    try {
        FileList.LoadFromFile(listPath);
    } catch (const EStreamError&) {
        throw ERunError("Cannot read the file list: " + listPath);
    }
    LV.Clear();
    // Drawn once at the end: a long list would otherwise be laid out anew
    // for every row added.
    SendMessageA(LV.Handle(), WM_SETREDRAW, FALSE, 0);
    struct TRedrawAgain {
        HWND List;
        ~TRedrawAgain()
        {
            SendMessageA(List, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(List, nullptr, TRUE);
        }
    } redrawAgain{LV.Handle()};
    for (int i = 0; i < FileList.Count(); ++i) {
        const std::string& line = FileList[i];
        TListEntry entry = ReadListLine(line, SystemDir, DownloadDir);
        LV.AddRow(entry.DisplayName, entry.DownloadSize);
        if (!entry.InstalledSize)
            throw ERunError("The installed size in line " + std::to_string(i + 1) +
                            " of the file list is not a number: \"" + GetField(line, Tab, 2) + "\"");
        CheckRemoteName(entry.RemoteName);
        ExpectedHash(line, i + 1);
        const TCompleteness state = JudgeTargetOnDisk(entry.TargetPath, *entry.InstalledSize);
        if (state.Complete)
            LV.SetImageIndex(i, 1);
        CompleteAtLoad += state.Counted ? 1 : 0;
        FileList.Put(i, std::move(entry.Stored));
    }
    if (LV.Count() > 0)
        LV.Focus(0);
}

void TaForm::StartDownloadRun()
{
    if (HttpCli1.State() != hsReady)
        HttpCli1.Abort();
    SBCancel.SetCaption("&Cancel");
    SBStart.SetEnabled(false);
    ui::SetScreenCursor(ui::crHourGlass);
    try {
        if (DownloadFile(ServerBaseURL() + "list.txt", DownloadDir + "\\list.txt") < 0)
            return ReportFailedDownload(*this);
        if (ClosePending)
            return;
        if (!CheckListSignature())
            return ReportFailedDownload(*this);
        LoadFileList();
        if (LV.Count() == 0)
            return EnterIdle(*this);
        CurrentIndex = NextIncomplete(LV, 0);
        while (!CancelRequested && CurrentIndex < FileList.Count()) {
            const std::string line = FileList[CurrentIndex];
            CurrentFile = GetField(line, Tab, 3);
            CurrentSize = DecimalValue(GetField(line, Tab, 1)).value_or(1);
            PBar.SetMax(CurrentSize);
            FocusRow(LV, CurrentIndex);
            const std::optional<TSha256Digest> expected = ExpectedHash(line, CurrentIndex + 1);
            if (DownloadFile(ServerBaseURL() + CurrentFile, DownloadDir + "\\" + CurrentFile,
                             expected ? &*expected : nullptr) < 0)
                return ReportFailedDownload(*this);
            if (ClosePending)
                return;
            if (CancelRequested)
                break;
            UnpackCurrentFile();
            if (ClosePending)
                return;
            CurrentIndex = NextIncomplete(LV, CurrentIndex + 1);
        }
    } catch (const std::exception& e) {
        return ReportLocalError(*this, e);
    }
    EndRun(*this);
}

void TaForm::CancelDownloadRun()
{
    if (HttpCli1.State() != hsReady)
        HttpCli1.Abort();
    CancelRequested = true;
    SBCancel.SetCaption("&Close");
    // A run still on its way out enables Start when it has returned.
    if (!RunInProgress)
        SBStart.SetEnabled(true);
}

bool TaForm::LVChanging()
{
    return HttpCli1.State() == hsReady;
}

void TaForm::HttpCli1DocData()
{
    const std::int64_t count = HttpCli1.RcvdCount();
    LPercent.SetCaption(std::to_string(count) + " bytes");
    PBar.SetPosition(static_cast<int>(std::min<std::int64_t>(count, INT_MAX)));
}

void TaForm::HttpCli1StateChange()
{
    switch (HttpCli1.State()) {
    case hsDnsLookup:
        LStat.SetCaption("Looking " + ServerHostName());
        break;
    case hsConnected:
        LStat.SetCaption("Connected");
        break;
    case hsReceiving:
        LStat.SetCaption("Transferred:");
        break;
    default:
        break;
    }
    LStat.Repaint();
}

} // namespace qm
