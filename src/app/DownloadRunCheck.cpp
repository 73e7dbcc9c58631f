// TDownloadRun: the check at loading. A target found with its listed size
// counts as complete only when its bytes have the line's installed SHA-256;
// each is read once, in large blocks, while the window stays responsive.
#include "app/DownloadRun.h"

#include "base/Stream.h"
#include "release/Sha256.h"

#include <chrono>

namespace qm {
namespace {

// Large enough that reading costs one call per megabyte, small enough that
// Cancel is seen within a few milliseconds.
constexpr std::int32_t CheckBlockSize = 1 << 20;

} // namespace

std::optional<TRunOutcome> TDownloadRun::CheckTargets()
{
    LastCheck = {};
    for (const TRow& row : rows_)
        if (row.Found.Finding == TTargetFinding::ToHash) {
            ++LastCheck.Files;
            LastCheck.Bytes += row.Found.FoundSize;
        }
    if (LastCheck.Files == 0)
        return std::nullopt;
    if (Observer) {
        Observer->StatusWord("Checking");
        Observer->CheckStarted(LastCheck.Bytes);
    }
    const auto started = std::chrono::steady_clock::now();
    std::vector<char> buffer(CheckBlockSize);
    std::int64_t done = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        TRow& row = rows_[i];
        if (row.Found.Finding != TTargetFinding::ToHash)
            continue;
        const std::optional<TSha256Digest> digest = HashTarget(row.Found.FoundPath, buffer, done);
        if (closePending_)
            return TRunOutcome{TRunOutcome::TKind::Closed, {}, 0};
        if (cancelRequested_)
            return TRunOutcome{TRunOutcome::TKind::Cancelled, {}, 0};
        row.Found = JudgeContent(row.Found, digest, row.Line.InstalledSha256);
        if (!row.Found.Complete)
            continue;
        row.State = TRowState::Complete;
        ++CompleteAtLoad;
        if (Observer)
            Observer->RowPlaced(static_cast<int>(i));
    }
    LastCheck.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (Observer) {
        Observer->Progress(done, true);
        Observer->StatusWord("Transferred:"); // the list's word again: nothing is being checked now
    }
    return std::nullopt;
}

std::optional<TSha256Digest> TDownloadRun::HashTarget(const std::string& Path, std::vector<char>& Buffer,
                                                      std::int64_t& Done)
{
    try {
        TFileStream file(Path, TFileStream::Mode::OpenRead);
        TSha256 sha;
        for (std::int32_t n; (n = file.Read(Buffer.data(), static_cast<std::int32_t>(Buffer.size()))) != 0;) {
            if (n < 0)
                return std::nullopt;
            sha.Update(Buffer.data(), static_cast<std::size_t>(n));
            Done += n;
            if (Observer) {
                Observer->Progress(Done, false);
                Observer->ProcessMessages();
            }
            if (cancelRequested_ || closePending_)
                return std::nullopt;
        }
        return sha.Finish();
    } catch (const EStreamError&) {
        return std::nullopt; // in use or gone: fetched again
    }
}

} // namespace qm
