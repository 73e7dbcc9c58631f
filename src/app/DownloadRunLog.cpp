// TDownloadRun: what a run writes to its log (RunLog.h). Never a user name,
// password or Authorization value: URLs go through SafeURL, the proxy is
// named by its host and port only; texts from the network are cut (NetText).
#include "app/DownloadRun.h"

#include "QMVersion.h"
#include "http/HttpProtText.h"

#include <cstdio>

namespace qm {
namespace {

std::string OutcomeName(const TRunOutcome& Outcome)
{
    using TKind = TRunOutcome::TKind;
    switch (Outcome.Kind) {
    case TKind::Finished:
        return "finished: Transfer finished.";
    case TKind::NotPlaced:
        return "not placed: " + std::to_string(Outcome.Missing) + (Outcome.Missing == 1 ? " file" : " files") +
               " could not be put in place.";
    case TKind::Cancelled:
        return "cancelled: Transfer terminated.";
    case TKind::EmptyList:
        return "empty list";
    case TKind::DownloadFailed:
        return "download failed";
    case TKind::LocalError:
        return "local error";
    case TKind::Closed:
        return "window closed";
    }
    return "?";
}

// Why loading judged a row's target as it did.
std::string FindingText(const TRow& Row)
{
    const std::string listed = Row.Line.InstalledSize.Text;
    switch (Row.Found.Finding) {
    case TTargetFinding::Missing:
        return "missing";
    case TTargetFinding::OtherSize:
        return "different: size " + std::to_string(Row.Found.FoundSize) + ", listed " + listed;
    case TTargetFinding::SizeOnly:
        return "in place (size only, no installed hash listed)";
    case TTargetFinding::ToHash:
        return "not checked (the check was ended)";
    case TTargetFinding::SameContent:
        return "in place (size and SHA-256)";
    case TTargetFinding::OtherContent:
        return "different: SHA-256 (or unreadable), size as listed";
    case TTargetFinding::NothingThere:
        return "in place (nothing there, as listed)";
    case TTargetFinding::SetupFile:
        return "setup file, fetched in every run";
    }
    return "?";
}

std::string HostAndPort(const std::string& URL, const std::string& DefaultPort)
{
    const TUrlParts parts = SplitURL(SafeURL(URL));
    return parts.Host + ":" + (parts.Port.empty() ? DefaultPort : parts.Port);
}

// "host:port" of a base URL, with its scheme's port when it names none.
std::string SourceName(const std::string& BaseURL)
{
    return HostAndPort(BaseURL, SplitURL(BaseURL).Proto == "https" ? "443" : "80");
}

} // namespace

void TDownloadRun::LogRunStart()
{
    log_.Open(LogFile);
    LogLine(std::string("run: QMLoader ") + QM_VERSION_TEXT + ", server " + SourceName(serverBaseURL_()));
    for (const auto& mirror : Mirrors)
        LogLine("mirror: " + SourceName(mirror()));
    LogLine("proxy: " + (HttpCli1.Proxy.empty() ? std::string("none") : HostAndPort(HttpCli1.Proxy, HttpCli1.ProxyPort)));
}

void TDownloadRun::LogRequest(const std::string& URL, const std::optional<TRunOutcome>& Failed, bool Hashed,
                              double Seconds)
{
    char figures[96];
    std::snprintf(figures, sizeof figures, "status %d, %lld bytes, %.2f s", HttpCli1.StatusCode(),
                  static_cast<long long>(HttpCli1.RcvdCount()), Seconds);
    std::string line = "GET " + SafeURL(URL) + ": " + figures;
    if (const std::string tls = HttpCli1.TlsConnection(); !tls.empty())
        line += ", " + tls;
    const bool mismatch = Failed && Failed->Failure == TRequestFailure::NotVerified;
    line += !Hashed ? ", no hash listed" : mismatch ? ", hash checked: no match" : Failed ? ", hash not checked" : ", hash checked";
    if (Failed)
        line += "; failed (" + std::string(FailureName(Failed->Failure)) + "): " + NetText(Failed->Message);
    LogLine(line);
    if (Failed)
        log_.Flush();
}

void TDownloadRun::LogRetry(const TRunOutcome& Failed, int Attempt, std::chrono::milliseconds Delay)
{
    char delay[32];
    std::snprintf(delay, sizeof delay, "%.1f s", static_cast<double>(Delay.count()) / 1000.0);
    LogLine("retry: " + std::string(FailureName(Failed.Failure)) + "; try " + std::to_string(Attempt + 1) + " of " +
            std::to_string(Retry.Attempts) + " in " + delay +
            (HttpCli1.RetryAfter().empty() ? "" : " (Retry-After: " + NetText(HttpCli1.RetryAfter()) + ")"));
    log_.Flush(); // the wait may be long, and the program may be ended in it
}

void TDownloadRun::LogSourceChange(const TRunOutcome& Failed, int From, int To)
{
    const auto name = [this](int Source) {
        return SourceName(sources_[static_cast<std::size_t>(Source)]()) +
               (Source >= builtInSources_ ? " (signed mirror)" : Source > 0 ? " (mirror)" : " (server)");
    };
    LogLine("source: " + name(From) + " failed (" + std::string(FailureName(Failed.Failure)) + "); next: " +
            name(To));
}

void TDownloadRun::LogSignedMirrors(const std::vector<std::string>& BaseURLs)
{
    for (const std::string& url : BaseURLs)
        LogLine("signed mirror: " + NetText(SafeURL(url)));
}

void TDownloadRun::LogList(std::size_t Bytes)
{
    int complete = 0;
    for (const TRow& row : rows_)
        complete += row.State == TRowState::Complete ? 1 : 0;
    LogLine("file list: " + std::to_string(Bytes) + " bytes, " + std::to_string(rows_.size()) + " rows, " +
            std::to_string(complete) + " in place already");
}

void TDownloadRun::LogFindings()
{
    // One line a row, up to a bound: a list of many thousand rows would
    // only push every earlier run out of the log (and cost a write each).
    constexpr std::size_t LoggedRows = 1000;
    for (std::size_t i = 0; i < rows_.size() && i < LoggedRows; ++i)
        LogLine("at load: " + rows_[i].TargetPath + ": " + FindingText(rows_[i]));
    if (rows_.size() > LoggedRows)
        LogLine("at load: " + std::to_string(rows_.size() - LoggedRows) + " more rows, not named one by one");
    if (LastCheck.Files > 0) {
        char figures[96];
        std::snprintf(figures, sizeof figures, "%d targets, %lld bytes hashed in %.2f s", LastCheck.Files,
                      static_cast<long long>(LastCheck.Bytes), LastCheck.Seconds);
        LogLine(std::string("checked: ") + figures);
    }
}

void TDownloadRun::LogSignature(std::uint64_t Sequence, const std::string& Expires)
{
    LogLine("file list signed: sequence " + std::to_string(Sequence) + ", expires " + NetText(Expires));
}

void TDownloadRun::LogPlacement(bool Placed)
{
    const TRow& row = rows_[static_cast<std::size_t>(currentIndex_)];
    LogLine(Placed ? "placed: " + row.TargetPath : "not placed: " + row.TargetPath + ": " + notPlaced_);
    if (!Placed)
        log_.Flush();
}

void TDownloadRun::LogOutcome(const TRunOutcome& Outcome)
{
    LogLine("end: " + OutcomeName(Outcome) + (Outcome.Message.empty() ? "" : ": " + NetText(Outcome.Message)));
    log_.Close();
}

} // namespace qm
