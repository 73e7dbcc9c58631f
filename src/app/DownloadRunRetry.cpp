// TDownloadRun: a download tried again after a passing failure, and the
// wait between the tries.
#include "app/DownloadRun.h"

#include "ui/Application.h"

#include <windows.h>

#include <algorithm>
#include <ctime>

namespace qm {

std::optional<TRunOutcome> TDownloadRun::DownloadFile(const std::string& URL, const std::string& LocalFileName,
                                                      const TSha256Digest* Expected,
                                                      const std::optional<TByteLimit>& Limit)
{
    const int attempts = std::max(Retry.Attempts, 1);
    for (int attempt = 1;; ++attempt) {
        const ULONGLONG started = GetTickCount64();
        std::optional<TRunOutcome> failed = DownloadOnce(URL, LocalFileName, Expected, Limit);
        LogRequest(URL, failed, Expected != nullptr, static_cast<double>(GetTickCount64() - started) / 1000.0);
        if (!failed || failed->Kind != TRunOutcome::TKind::DownloadFailed || attempt >= attempts ||
            cancelRequested_ || closePending_ || !IsPassing(failed->Failure, HttpCli1.StatusCode()))
            return failed;
        const std::optional<std::chrono::seconds> retryAfter =
            ParseRetryAfter(HttpCli1.RetryAfter(), std::time(nullptr), Retry.MaxRetryAfter);
        const std::chrono::milliseconds delay = RetryDelay(Retry, attempt, retryAfter);
        LogRetry(*failed, attempt, delay);
        if (std::optional<TRunOutcome> stop = WaitBeforeRetry(delay, attempt))
            return stop;
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
