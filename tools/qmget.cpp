// qmget: downloads one file (http:// or https://) into a file with
// THttpCli::Get, for people debugging a server and for the HTTP benchmark's
// reference downloads. An https server's certificate must be valid for the
// URL's host name and trusted by this Windows user.
//
//   qmget URL [URL ...] OUT [--proxy HOST[:PORT]] [--user NAME[:PASSWORD]] [--retries N]
//
// Several URLs are sources of the same file, tried in order as the loader
// tries its mirrors (TSourceRounds): a failure goes on to the next URL at
// once, and a round over all of them is made again, up to N rounds, only
// after a failure that may pass.
// Shows a one-line progress display on stderr (byte count, and the percent
// when the server sent a Content-Length), then prints the final status code
// and reason on stdout. Exit status: 0 for a complete 2xx download, 1 for any
// failure (HTTP error, local error, no status line, a body whose length
// differs from Content-Length), 2 for a usage error. A failure that may pass
// (HttpRetry.h) is tried again, from the first byte.
#include "http/HttpProt.h"
#include "http/HttpRetry.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char Usage[] =
    "usage: qmget URL [URL ...] OUT [--proxy HOST[:PORT]] [--user NAME[:PASSWORD]] [--retries N]\n"
    "  Downloads URL (http:// or https://) into the file OUT (created anew);\n"
    "  further URLs are sources of the same file, tried in order when one fails.\n"
    "  --proxy  send the request through this HTTP proxy (port 80 when omitted;\n"
    "           https goes through it in a CONNECT tunnel)\n"
    "  --user   Basic authorization, also sent to the proxy\n"
    "  --retries  rounds over the URLs in all for a failure that may pass (a lost\n"
    "           connection, a stall, 408, 429, 500, 502, 503, 504); default 3, 1: no retry\n"
    "Exit status: 0 complete 2xx download, 1 failure, 2 usage error.\n";

struct Options {
    std::vector<std::string> Urls;
    std::string Out;
    std::string Proxy;
    std::string User;
    std::string Password;
    int Retries = 3;
};

// Options may stand anywhere; of the other arguments, the last is OUT and
// those before it (one at least) the URLs.
// Nothing on a usage error.
std::optional<Options> ParseArguments(int argc, char** argv)
{
    Options opts;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--proxy" || arg == "--user" || arg == "--retries") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return std::nullopt;
            const std::string value = argv[++i];
            if (arg == "--retries") {
                if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos)
                    return std::nullopt;
                opts.Retries = std::stoi(value);
                if (opts.Retries < 1)
                    return std::nullopt;
                continue;
            }
            if (arg == "--proxy") {
                opts.Proxy = value;
                continue;
            }
            const auto colon = value.find(':');
            opts.User = value.substr(0, colon);
            if (colon != std::string::npos)
                opts.Password = value.substr(colon + 1);
            if (opts.User.empty())
                return std::nullopt;
        } else if (arg.starts_with("--")) {
            return std::nullopt;
        } else {
            opts.Urls.emplace_back(arg);
        }
    }
    if (opts.Urls.size() < 2 || std::find(opts.Urls.begin(), opts.Urls.end(), "") != opts.Urls.end())
        return std::nullopt;
    opts.Out = opts.Urls.back();
    opts.Urls.pop_back();
    return opts;
}

// The one-line display, redrawn in place at most five times a second.
class Progress {
public:
    // Total < 0: the length is unknown.
    void Update(std::int64_t Count, std::int64_t Total)
    {
        const ULONGLONG now = GetTickCount64();
        if (Shown && now - LastDrawn < 200)
            return;
        Draw(Count, Total);
        LastDrawn = now;
    }
    // Draws the final figures and ends the line, if anything was shown.
    void Finish(std::int64_t Count, std::int64_t Total)
    {
        if (!Shown && Count == 0)
            return;
        Draw(Count, Total);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    void Draw(std::int64_t Count, std::int64_t Total)
    {
        if (Total > 0)
            std::fprintf(stderr, "\r%lld of %lld bytes (%lld%%)   ", static_cast<long long>(Count),
                         static_cast<long long>(Total), static_cast<long long>(Count * 100 / Total));
        else
            std::fprintf(stderr, "\r%lld bytes   ", static_cast<long long>(Count));
        std::fflush(stderr);
        Shown = true;
    }

    bool Shown = false;
    ULONGLONG LastDrawn = 0;
};

// One try: its exit status, and why it failed.
struct Try {
    int Exit = 0;
    qm::TRequestFailure Why = qm::TRequestFailure::None;
    int Status = 0;
    std::string RetryAfter;
};

Try DownloadOnce(const Options& Opts, const std::string& Url)
{
    qm::TFileStream out(Opts.Out, qm::TFileStream::Mode::Create);
    qm::THttpCli http;
    http.URL = Url;
    http.Proxy = Opts.Proxy;
    http.Username = Opts.User;
    http.Password = Opts.Password;
    http.RcvdStream = &out;

    // Content-Length of the response being read; -1 when it carries none.
    const auto total = [&] { return http.ContentLength().value_or(-1); };
    Progress progress;
    http.OnDocData = [&](qm::THttpCli& c, const void*, std::int32_t) { progress.Update(c.RcvdCount(), total()); };

    bool failed = false;
    try {
        http.Get();
    } catch (const qm::EHttpException&) {
        failed = true; // the status and reason say why
    }
    progress.Finish(http.RcvdCount(), total());
    const int status = http.StatusCode();
    if (status == 0) {
        std::printf("no status line received\n");
        return {1, qm::TRequestFailure::CutShort, 0, {}};
    }
    std::printf("%d %s\n", status, http.ReasonPhrase().c_str());
    if (failed || status < 200 || status > 299)
        return {1, failed ? http.Failure() : qm::TRequestFailure::Status, status, http.RetryAfter()};
    if (total() >= 0 && http.RcvdCount() != total()) {
        std::fprintf(stderr, "qmget: incomplete: %lld of %lld bytes received\n",
                     static_cast<long long>(http.RcvdCount()), static_cast<long long>(total()));
        return {1, http.RcvdCount() < total() ? qm::TRequestFailure::ShortBody : qm::TRequestFailure::Malformed,
                status, {}};
    }
    out.Close(); // a full disk may show only here: raises, and main says so
    return {};
}

// Runs the download over the URLs in rounds; the exit status of the last
// try.
int Download(const Options& Opts)
{
    qm::TRetryPolicy policy;
    policy.Attempts = Opts.Retries;
    qm::TSourceRounds rounds(policy, static_cast<int>(Opts.Urls.size()));
    for (;;) {
        const std::string& url = Opts.Urls[static_cast<std::size_t>(rounds.Source())];
        const Try t = DownloadOnce(Opts, url);
        if (t.Exit == 0)
            return 0;
        const std::string why(qm::FailureName(t.Why));
        switch (rounds.Failed(t.Why, t.Status, t.RetryAfter, std::time(nullptr))) {
        case qm::TSourceRounds::TStep::GiveUp:
            return t.Exit;
        case qm::TSourceRounds::TStep::NextSource:
            std::fprintf(stderr, "qmget: %s: %s; next: %s\n", url.c_str(), why.c_str(),
                         Opts.Urls[static_cast<std::size_t>(rounds.Source())].c_str());
            break;
        case qm::TSourceRounds::TStep::Wait:
            std::fprintf(stderr, "qmget: %s; retrying in %lld ms (%d of %d)\n", why.c_str(),
                         static_cast<long long>(rounds.Delay().count()), rounds.Round() - 1, rounds.Rounds());
            Sleep(static_cast<DWORD>(rounds.Delay().count()));
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const auto opts = ParseArguments(argc, argv);
    if (!opts) {
        std::fputs(Usage, stderr);
        return 2;
    }
    try {
        return Download(*opts);
    } catch (const qm::Exception& e) {
        std::fprintf(stderr, "qmget: %s\n", e.Message.c_str());
        return 1;
    }
}
