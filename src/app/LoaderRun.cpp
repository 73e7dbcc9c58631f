// TaForm: the window's side of a download run. Start runs TDownloadRun and
// shows its outcome; the run's observer calls fill the list view, move the
// focus, the bar and the labels; Cancel aborts the run's transfer.
//
// Outcomes as the window shows them:
//  - a download failed: its "Failed : " message; the window stays
//    transferring until Cancel, unless Cancel caused it;
//  - a local error (a bad list line, a file that cannot be written): its
//    message, then idle;
//  - the end of the list: "Transfer terminated." after Cancel; idle with
//    the number of files not put in place when an unpack or copy failed
//    (and why, when a disk was full or a target in use);
//    otherwise "Transfer finished." and the complete state;
//  - the window was closed meanwhile: nothing.
#include "app/Loader.h"

#include "ui/Application.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"

#include <algorithm>

namespace qm {
namespace {

// Focus and selection on Row, scrolled into view: Up and Down move the
// focus away and back the way the keyboard would. A row below the view
// turns the page first, so the list scrolls once a page, not once a row.
void FocusRow(ui::TListView& LV, int Row)
{
    LV.SetFocus();
    LV.ShowPageOf(Row);
    LV.Focus(Row);
    LV.Select(Row);
    if (Row > 0) {
        LV.SendKeyDown(VK_UP);
        LV.SendKeyDown(VK_DOWN);
    }
}

} // namespace

void TaForm::SetWindowState(TWindowState State)
{
    state_ = State;
    const bool done = State == TWindowState::Complete || State == TWindowState::DisksWritten;
    SBStart.SetCaption(done ? "&Install QM" : "&Start");
    SBStart.SetEnabled(State != TWindowState::Transferring && !RunInProgress);
    SBCancel.SetCaption(State == TWindowState::Transferring ? "&Cancel"
                        : State == TWindowState::Complete   ? "&Make Disks"
                                                            : "&Close");
    ui::SetScreenCursor(State == TWindowState::Transferring ? ui::crHourGlass : ui::crDefault);
}

void TaForm::StartDownloadRun()
{
    SetWindowState(TWindowState::Transferring);
    ShowOutcome(Run.Execute());
}

void TaForm::ShowOutcome(const TRunOutcome& Outcome)
{
    paints_.Flush(); // the window shows the run's last state under its message
    using TKind = TRunOutcome::TKind;
    switch (Outcome.Kind) {
    case TKind::Closed:
        return;
    case TKind::DownloadFailed:
        ui::ShowMessage(Handle(), Outcome.Message);
        if (Run.CancelRequested())
            SetWindowState(TWindowState::Idle);
        return;
    case TKind::LocalError:
        ui::SetScreenCursor(ui::crDefault);
        ui::ShowMessage(Handle(), Outcome.Message);
        return SetWindowState(TWindowState::Idle);
    case TKind::EmptyList:
        return SetWindowState(TWindowState::Idle);
    case TKind::Cancelled:
        ui::SetScreenCursor(ui::crDefault);
        ui::ShowMessage(Handle(), "Transfer terminated.\r\nClick \"Start\" to resume downloading.");
        return SetWindowState(TWindowState::Idle);
    case TKind::NotPlaced:
    case TKind::Finished:
        break;
    }
    ui::SetScreenCursor(ui::crDefault);
    PBar.SetPosition(0);
    LPercent.SetCaption("");
    if (Outcome.Kind == TKind::NotPlaced) {
        const std::string why = Outcome.Message.empty() ? "" : Outcome.Message + "\r\n";
        ui::ShowMessage(Handle(), std::to_string(Outcome.Missing) + (Outcome.Missing == 1 ? " file" : " files") +
                                      " could not be put in place.\r\n" + why + "Click \"Start\" to try again.");
        return SetWindowState(TWindowState::Idle);
    }
    ui::ShowMessage(Handle(), "Transfer finished.");
    SetWindowState(TWindowState::Complete);
    LV.DeselectAll();
}

void TaForm::CancelDownloadRun()
{
    Run.Cancel();
    // A run still on its way out enables Start when it has returned.
    SetWindowState(TWindowState::Idle);
}

bool TaForm::LVChanging()
{
    return HttpCli1.State() == hsReady;
}

void TaForm::HttpCli1DocData()
{
    ShowProgress(HttpCli1.RcvdCount(), false);
}

void TaForm::ShowProgress(std::int64_t Bytes, bool Force)
{
    const ULONGLONG now = GetTickCount64();
    if (!Force && now - progressShown_ < ProgressInterval)
        return;
    progressShown_ = now;
    // A file of one chunk is shown at its first bytes and again at its end.
    if (std::string text = std::to_string(Bytes) + " bytes"; text != LPercent.Caption())
        SetLabel(LPercent, text);
    const std::int64_t steps = std::min<std::int64_t>(progressSize_, ProgressSteps);
    const auto position = static_cast<int>(std::min<std::int64_t>(Bytes * steps / progressSize_, steps));
    if (position != PBar.Position()) {
        paints_.Changing(PBar.Handle());
        PBar.SetPosition(position);
    }
}

void TaForm::ListLoaded(const std::vector<TRow>& Rows)
{
    LV.Clear();
    // Drawn once at the end: a long list would otherwise be laid out anew
    // for every row added.
    SendMessageA(LV.Handle(), WM_SETREDRAW, FALSE, 0);
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        LV.AddRow(Rows[i].Line.DisplayName, Rows[i].Line.DownloadSize.Text);
        if (Rows[i].State == TRowState::Complete)
            LV.SetImageIndex(static_cast<int>(i), 1);
    }
    SendMessageA(LV.Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(LV.Handle(), nullptr, TRUE);
    if (LV.Count() > 0)
        LV.Focus(0);
}

void TaForm::RowStarted(int Index, std::int32_t Size)
{
    ShowProgressOf(Size);
    paints_.Changing(LV.Handle());
    FocusRow(LV, Index);
}

void TaForm::CheckStarted(std::int64_t Bytes)
{
    ShowProgressOf(Bytes);
}

void TaForm::ShowProgressOf(std::int64_t Size)
{
    progressSize_ = std::max<std::int64_t>(Size, 1);
    progressShown_ = 0; // the first bytes are shown at once
    paints_.Changing(PBar.Handle());
    PBar.SetMax(static_cast<int>(std::min<std::int64_t>(progressSize_, ProgressSteps)));
}

void TaForm::Progress(std::int64_t Bytes, bool Final)
{
    ShowProgress(Bytes, Final);
}

// The run's HttpCli1StateChange: "Looking " + host, "Connected" or
// "Transferred:", and nothing new for the other states. A new text paints
// the label within a frame; the same text changes nothing.
void TaForm::StatusWord(const std::string& Text)
{
    if (!Text.empty() && Text != LStat.Caption())
        SetLabel(LStat, Text);
}

// A label the pacer holds is fitted to its text once, when it is drawn.
void TaForm::SetLabel(ui::TLabel& Label, const std::string& Text)
{
    const bool held = paints_.Changing(Label.Handle(), [&Label] { Label.FitToCaption(); });
    Label.SetCaption(Text, held ? ui::TLabel::TFit::Later : ui::TLabel::TFit::Now);
}

void TaForm::RowPlaced(int Index)
{
    paints_.Changing(LV.Handle());
    LV.SetImageIndex(Index, 1);
}

// The decoder asks after every 32 KiB block, about 10000 times for 200 MB;
// each pass is a round trip to the window system even with nothing queued
// (under Wine up to a millisecond, more than decoding the block). On the
// progress clock the window still answers within ProgressInterval.
void TaForm::ProcessMessages()
{
    const ULONGLONG now = GetTickCount64();
    if (now - messagesProcessed_ < ProgressInterval)
        return;
    messagesProcessed_ = now;
    ui::Application().ProcessMessages();
}

} // namespace qm
