// TDownloadRun: a download tried again after a passing failure, and the
// wait between the tries.
#include "app/DownloadRun.h"

#include "http/HttpProtText.h"
#include "ui/Application.h"

#include <windows.h>

#include <algorithm>
#include <ctime>

namespace qm {

void TDownloadRun::ResetSources()
{
    sources_ = {serverBaseURL_};
    sources_.insert(sources_.end(), Mirrors.begin(), Mirrors.end());
    builtInSources_ = static_cast<int>(sources_.size());
    preferred_ = 0;
}

void TDownloadRun::AddSignedMirrors(const std::vector<std::string>& BaseURLs)
{
    sources_.resize(static_cast<std::size_t>(builtInSources_));
    std::vector<std::string> known;
    for (const auto& source : sources_)
        known.push_back(source());
    for (const std::string& url : BaseURLs)
        if (std::find(known.begin(), known.end(), url) == known.end()) {
            known.push_back(url);
            sources_.push_back([url] { return url; });
        }
}

std::string TDownloadRun::SourceURL(int Source, std::string_view RemoteName) const
{
    return sources_[static_cast<std::size_t>(Source)]() + EncodePathSegment(RemoteName);
}

std::optional<TRunOutcome> TDownloadRun::DownloadFile(std::string_view RemoteName, const std::string& FinalName,
                                                      const TSha256Digest* Expected,
                                                      const std::optional<TByteLimit>& Limit)
{
    TSourceRounds rounds(Retry, static_cast<int>(sources_.size()), preferred_);
    for (;;) {
        const int source = rounds.Source();
        const std::string url = SourceURL(source, RemoteName);
        const ULONGLONG started = GetTickCount64();
        std::optional<TRunOutcome> failed = DownloadOnce(url, FinalName, Expected, Limit);
        LogRequest(url, failed, Expected != nullptr, static_cast<double>(GetTickCount64() - started) / 1000.0);
        if (!failed) {
            preferred_ = source;
            return failed;
        }
        if (failed->Kind != TRunOutcome::TKind::DownloadFailed || cancelRequested_ || closePending_)
            return failed;
        switch (rounds.Failed(failed->Failure, HttpCli1.StatusCode(), HttpCli1.RetryAfter(), std::time(nullptr))) {
        case TSourceRounds::TStep::GiveUp:
            return failed;
        case TSourceRounds::TStep::NextSource:
            LogSourceChange(*failed, source, rounds.Source());
            break;
        case TSourceRounds::TStep::Wait:
            LogRetry(*failed, rounds.Round() - 1, rounds.Delay());
            if (std::optional<TRunOutcome> stop = WaitBeforeRetry(rounds.Delay(), rounds.Round() - 1))
                return stop;
            break;
        }
    }
}

std::optional<TRunOutcome> TDownloadRun::WaitBeforeRetry(std::chrono::milliseconds Delay, int Failed)
{
    if (Observer)
        Observer->Progress(0, true); // nothing is in flight while the run waits
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max<std::int64_t>(Delay.count(), 0));
    long long shown = -1;
    for (ULONGLONG now = GetTickCount64(); now < deadline && !cancelRequested_ && !closePending_;
         now = GetTickCount64()) {
        const ULONGLONG left = deadline - now;
        if (const auto seconds = static_cast<long long>((left + 999) / 1000); Observer && seconds != shown) {
            shown = seconds;
            Observer->StatusWord("Retrying in " + std::to_string(seconds) + " s (" + std::to_string(Failed) + " of " +
                                 std::to_string(std::max(Retry.Attempts, 1)) + ")");
        }
        ui::Application().ProcessMessages();
        if (!cancelRequested_ && !closePending_)
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(left % 1000 + 1, left)),
                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (closePending_)
        return TRunOutcome{TRunOutcome::TKind::Closed, {}, 0};
    if (cancelRequested_) // as Cancel during a transfer ends it
        return TRunOutcome{TRunOutcome::TKind::DownloadFailed, "Failed : 404 Connection aborted on request", 0,
                           TRequestFailure::Aborted};
    return std::nullopt;
}

} // namespace qm
