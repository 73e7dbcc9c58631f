// TDownloadRun: the run itself, from list.txt to the last row, and its
// Cancel and Close.
#include "app/DownloadRun.h"

#include "app/Extra.h"
#include "base/ExtraStr.h"
#include "http/HttpProtText.h"
#include "release/ListRules.h"

#include <exception>

namespace qm {

TDownloadRun::TDownloadRun(std::function<std::string()> ServerBaseURL, std::string ReleasePublicKey)
    : serverBaseURL_(std::move(ServerBaseURL)), releasePublicKey_(std::move(ReleasePublicKey))
{
    HttpCli1.ProxyPort = "80";
    HttpCli1.KeepAddresses(true); // for one run: Execute forgets them
    HttpCli1.OnDocData = [this](THttpCli& Client, const void*, std::int32_t) {
        log_.FlushIfDue(); // a long download leaves no line waiting in the buffer
        if (Observer)
            Observer->Progress(Client.RcvdCount(), false);
    };
    HttpCli1.OnStateChange = [this](THttpCli&) { HttpCli1StateChange(); };
    LzhD1.OnProcessMessages = [this] {
        if (Observer)
            Observer->ProcessMessages();
    };
}

void TDownloadRun::HttpCli1StateChange()
{
    if (!Observer)
        return;
    switch (HttpCli1.State()) {
    case hsDnsLookup: // the source being tried
        return Observer->StatusWord("Looking " + SplitURL(HttpCli1.URL).Host);
    case hsConnected:
        return Observer->StatusWord("Connected");
    case hsReceiving:
        return Observer->StatusWord("Transferred:");
    default:
        return Observer->StatusWord("");
    }
}

TRunOutcome TDownloadRun::Execute()
{
    cancelRequested_ = false;
    closePending_ = false;
    notPlacedWhy_.clear();
    HttpCli1.ForgetAddresses();
    ResetSources();
    LogRunStart();
    OpenUnfinishedFolder();
    const TRunOutcome outcome = RunSteps();
    RemoveDirectoryA(unfinished_.c_str()); // only when empty: what a failure left stays
    LogOutcome(outcome);
    return outcome;
}

TRunOutcome TDownloadRun::RunSteps()
{
    if (HttpCli1.State() != hsReady)
        HttpCli1.Abort();
    try {
        if (std::optional<TRunOutcome> stop = FetchFileList())
            return *stop;
        if (std::optional<TRunOutcome> stop = LoadFileList())
            return *stop;
        if (rows_.empty())
            return {TRunOutcome::TKind::EmptyList, {}, 0};
        if (std::optional<TRunOutcome> stop = DownloadRows())
            return *stop;
    } catch (const std::exception& e) {
        if (closePending_)
            return {TRunOutcome::TKind::Closed, {}, 0};
        const auto* own = dynamic_cast<const Exception*>(&e);
        return {TRunOutcome::TKind::LocalError, "The download stopped: " + (own ? own->Message : e.what()), 0};
    }
    return EndOfRun();
}

void TDownloadRun::Cancel()
{
    if (HttpCli1.State() != hsReady)
        HttpCli1.Abort();
    cancelRequested_ = true;
}

void TDownloadRun::Close()
{
    closePending_ = true;
    Cancel();
}

int TDownloadRun::NextIncomplete(int From) const
{
    while (From < static_cast<int>(rows_.size()) && rows_[static_cast<std::size_t>(From)].State == TRowState::Complete)
        ++From;
    return From;
}

std::optional<TRunOutcome> TDownloadRun::Stopped() const
{
    if (closePending_)
        return TRunOutcome{TRunOutcome::TKind::Closed, {}, 0};
    return std::nullopt;
}

std::optional<TRunOutcome> TDownloadRun::DownloadRows()
{
    currentIndex_ = NextIncomplete(0);
    while (!cancelRequested_ && currentIndex_ < static_cast<int>(rows_.size())) {
        if (std::optional<TRunOutcome> stop = DownloadRow())
            return stop;
        if (cancelRequested_)
            break;
        LogPlacement(UnpackCurrentFile());
        if (std::optional<TRunOutcome> stop = Stopped())
            return stop;
        currentIndex_ = NextIncomplete(currentIndex_ + 1);
    }
    return std::nullopt;
}

// Downloads row currentIndex_ to a temporary and, once checked, under its
// RemoteName in the download directory.
std::optional<TRunOutcome> TDownloadRun::DownloadRow()
{
    const TRow& row = rows_[static_cast<std::size_t>(currentIndex_)];
    const std::int32_t size = row.Line.DownloadSize.Value.value_or(1);
    if (Observer)
        Observer->RowStarted(currentIndex_, size);
    const std::string local = PathInFolder(DownloadDir, row.Line.RemoteName);
    const TSha256Digest* expected =
        row.Line.Sha256.Kind == TListHash::TKind::Digest ? &row.Line.Sha256.Digest : nullptr;
    // A server that sends more than the list gives is refused at once: an
    // endless body would otherwise fill the disk.
    std::optional<TByteLimit> limit;
    if (row.Line.DownloadSize.Value && *row.Line.DownloadSize.Value >= 0)
        limit = TByteLimit{*row.Line.DownloadSize.Value,
                           "The server sent more than the " + row.Line.DownloadSize.Text +
                               " bytes the file list gives for this file",
                           true};
    if (std::optional<TRunOutcome> failed = DownloadFile(row.Line.RemoteName, local, expected, limit))
        return failed;
    if (std::optional<TRunOutcome> stop = Stopped())
        return stop;
    Step(TRunStep::Rename);
    if (std::optional<std::string> refused = ReplaceFileWith(TemporaryFor(local), local))
        return TRunOutcome{TRunOutcome::TKind::LocalError, *refused, 0};
    return std::nullopt;
}

TRunOutcome TDownloadRun::EndOfRun() const
{
    if (cancelRequested_)
        return {TRunOutcome::TKind::Cancelled, {}, 0};
    int missing = 0;
    for (const TRow& row : rows_)
        missing += row.State == TRowState::Complete ? 0 : 1;
    if (missing > 0)
        return {TRunOutcome::TKind::NotPlaced, notPlacedWhy_, missing};
    return {TRunOutcome::TKind::Finished, {}, 0};
}

void TDownloadRun::OpenUnfinishedFolder()
{
    unfinished_ = PathInFolder(DownloadDir, UnfinishedFolderName);
    if (CreateDirectoryA(unfinished_.c_str(), nullptr))
        return;
    const DWORD attributes = GetFileAttributesA(unfinished_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        unfinished_.clear();
}

std::string TDownloadRun::TemporaryFor(const std::string& Final) const
{
    if (!unfinished_.empty())
        if (std::string inFolder = TemporaryName(PathInFolder(unfinished_, FileNameOf(Final)));
            inFolder.size() <= MaxPathLength)
            return inFolder;
    return TemporaryName(Final);
}

void TDownloadRun::DeleteTemporaries() const
{
    for (const TRow& row : rows_)
        DeleteFileA(TemporaryName(row.TargetPath).c_str());
    DeleteFilesIn(PathInFolder(DownloadDir, UnfinishedFolderName));
}

} // namespace qm
