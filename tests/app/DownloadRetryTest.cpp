// The download run without a window, against the scripted server: which
// failures are tried again, the wait between the tries, and the log.
#include "LoaderRunFixture.h"

#include "app/DownloadRun.h"
#include "release/ListHash.h"
#include "release/Sha256.h"

#include <optional>
#include <regex>

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using TKind = TRunOutcome::TKind;
using TEnd = TExchange::TEnd;

// Records the status words; OnStatus runs for each.
struct TStatusObserver final : TRunObserver {
    void ListLoaded(const std::vector<TRow>&) override {}
    void RowStarted(int, std::int32_t) override {}
    void CheckStarted(std::int64_t) override {}
    void Progress(std::int64_t Bytes, bool) override { Shown = Bytes; }
    void StatusWord(const std::string& Text) override
    {
        Words.push_back(Text);
        if (OnStatus)
            OnStatus(Text);
    }
    void RowPlaced(int) override {}
    void ProcessMessages() override { ++Passes; }
    int Waits() const
    {
        return static_cast<int>(std::count_if(Words.begin(), Words.end(), [](const std::string& W) {
            return W.starts_with("Retrying in 1 s (");
        }));
    }

    std::vector<std::string> Words;
    std::function<void(const std::string&)> OnStatus;
    std::int64_t Shown = 0; // the last progress
    int Passes = 0;         // message passes asked for
};

struct TRetryCase {
    const char* Name;
    std::vector<TExchange> Answers; // list.txt's first
    TKind Kind;
    std::string Message;
    int Waits;
};

TEST(DownloadRetry, PassingFailuresAreTriedAgainOthersAreNot)
{
    const std::string line = ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", "");
    const TExchange list = Ok(ListText({line}));
    const TExchange hashedList = Ok(ListText({line + "\t" + HexText(TSha256::Of("abc"))}));
    const TExchange stall{{}, TEnd::WaitPeer};
    const TRetryCase cases[] = {
        {"a 503, then the file", {list, Raw("HTTP/1.0 503 Busy\r\n\r\n"), Ok("abc")}, TKind::Finished, "", 1},
        {"a short body without Content-Length, then the file", {hashedList, Raw("HTTP/1.0 200 OK\r\n\r\nab"), Ok("abc")},
         TKind::Finished, "", 1},
        {"a reset, then the file", {list, {{{"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\na"}}, TEnd::Reset}, Ok("abc")},
         TKind::Finished, "", 1},
        {"the list: a 502, then the list", {Raw("HTTP/1.0 502 Bad Gateway\r\n\r\n"), list, Ok("abc")}, TKind::Finished,
         "", 1},
        {"three stalls", {list, stall, stall, stall}, TKind::DownloadFailed,
         "Failed : 404 the server stopped answering (nothing arrived for 0 s)", 2},
        {"a 404", {list, Raw("HTTP/1.0 404 Not Found\r\n\r\n"), Ok("abc")}, TKind::DownloadFailed,
         "Failed : 404 Not Found", 0},
        {"a hash mismatch", {hashedList, Ok("abd"), Ok("abc")}, TKind::DownloadFailed,
         "Failed : 200 The file was damaged or altered on its way: its SHA-256 hash is not the one in the file list", 0},
    };
    for (const TRetryCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempCurrentDirectory dir;
        TScriptedServer server;
        server.Script(c.Answers);
        TStatusObserver observer;
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = run.SystemDir = dir.Path;
        run.Observer = &observer;
        run.Retry.Delays = {50ms};
        run.HttpCli1.StallTimeout = 300ms;
        run.LogFile = dir.Path + "\\no such folder\\QMLoader.log"; // a log that cannot be written
        const TRunOutcome outcome = run.Execute();
        EXPECT_EQ(outcome.Kind, c.Kind);
        EXPECT_EQ(outcome.Message, c.Message);
        EXPECT_EQ(observer.Waits(), c.Waits);
        // One request per answer, and none after the one that decided.
        const std::size_t asked = c.Kind == TKind::Finished || c.Waits > 0 ? c.Answers.size() : c.Answers.size() - 1;
        EXPECT_EQ(server.Requests().size(), asked);
        EXPECT_EQ(ReadWholeFile(dir.Path + "\\a.txt"), c.Kind == TKind::Finished ? "abc" : "");
    }
}

struct TMirrorCase {
    const char* Name;
    std::optional<std::vector<TExchange>> Server; // none: it refuses connections
    std::vector<TExchange> Mirror;
    std::string Message; // empty: the run finishes
    int Waits;
    std::ptrdiff_t ServerTries;
    std::size_t MirrorTries;
};

// A server and its mirror: a failed file goes to the mirror at once, the source that delivered is
// asked first for the next, and only a passing failure makes another round.
TEST(DownloadRetry, AFileTheServerFailsComesFromTheMirror)
{
    const auto line = [](std::string N, const char* Bytes) {
        return ListLine(N, "3", "3", N, "{prog}\\" + N + ".txt", "") + "\t" + HexText(TSha256::Of(Bytes));
    };
    const std::string list = ListText({line("a", "abc"), line("b", "xyz")});
    const TExchange busy = Raw("HTTP/1.0 503 Busy\r\n\r\n"), missing = Raw("HTTP/1.0 404 Not Found\r\n\r\n");
    const TMirrorCase cases[] = {
        {"a dead server", std::nullopt, {Ok(list), Ok("abc"), Ok("xyz")}, "", 0, 1, 3},
        {"the list missing on the server", {{missing}}, {Ok(list), Ok("abc"), Ok("xyz")}, "", 0, 1, 3},
        {"a file altered on the server", {{Ok(list), Ok("abc"), Ok("xyZ")}}, {Ok("xyz")}, "", 0, 3, 1},
        {"a 404 on the server", {{Ok(list), Ok("abc"), missing}}, {Ok("xyz")}, "", 0, 3, 1},
        {"a 503 on the server", {{Ok(list), Ok("abc"), busy}}, {Ok("xyz")}, "", 0, 3, 1},
        {"a 503 at both, three rounds", {{Ok(list), Ok("abc"), busy, busy, busy}}, {busy, busy, busy},
         "Failed : 503 Busy", 2, 5, 3},
        {"a 404 at both, one round", {{Ok(list), Ok("abc"), missing}}, {missing}, "Failed : 404 Not Found", 0, 3, 1},
    };
    for (const TMirrorCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempCurrentDirectory dir;
        std::optional<TScriptedServer> server(std::in_place);
        const std::string serverURL = "http://" + server->Address() + "/";
        c.Server ? server->Script(*c.Server) : server.reset(); // a port that refuses connections
        TScriptedServer mirror;
        mirror.Script(c.Mirror);
        TStatusObserver observer;
        TDownloadRun run([&] { return serverURL; }, "");
        run.Mirrors = {[&] { return "http://" + mirror.Address() + "/"; }};
        run.DownloadDir = run.SystemDir = dir.Path;
        run.Observer = &observer;
        run.Retry.Delays = {50ms};
        run.LogFile = dir.Path + "\\QMLoader.log";
        const TRunOutcome outcome = run.Execute();
        EXPECT_EQ(outcome.Kind, c.Message.empty() ? TKind::Finished : TKind::DownloadFailed);
        EXPECT_EQ(outcome.Message, c.Message);
        EXPECT_EQ(observer.Waits(), c.Waits);
        const std::string log = ReadWholeFile(run.LogFile);
        const std::regex tries("GET " + serverURL), change(" \\(server\\) failed \\(.*; next: " + mirror.Address());
        EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), tries), {}), c.ServerTries) << log;
        EXPECT_EQ(mirror.Requests().size(), c.MirrorTries);
        EXPECT_TRUE(std::regex_search(log, change)) << log;
        EXPECT_EQ(ReadWholeFile(dir.Path + "\\b.txt"), c.Message.empty() ? "xyz" : "");
    }
}

TEST(DownloadRetry, CancelOrCloseDuringAWaitEndsTheRunAtOnce)
{
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Cancel");
        TTempCurrentDirectory dir;
        TScriptedServer server;
        server.Script({Ok(ListText({ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", "")})),
                       Raw("HTTP/1.0 503 Busy\r\n\r\n"), Ok("abc")});
        TPostedActions actions;
        TStatusObserver observer;
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = run.SystemDir = dir.Path;
        run.Observer = &observer;
        run.Retry.Delays = {20s};
        // Pressed from the window's messages, as the user would, once the
        // wait has begun.
        observer.OnStatus = [&, posted = false](const std::string& Text) mutable {
            if (!posted && Text.starts_with("Retrying in 20 s (1 of 3)")) {
                posted = true;
                actions.Post([&] { close ? run.Close() : run.Cancel(); });
            }
        };
        const ULONGLONG started = GetTickCount64();
        const TRunOutcome outcome = run.Execute();
        EXPECT_LT(GetTickCount64() - started, 5000u);
        EXPECT_EQ(outcome.Kind, close ? TKind::Closed : TKind::DownloadFailed);
        EXPECT_EQ(outcome.Message, close ? "" : "Failed : 404 Connection aborted on request");
        EXPECT_EQ(server.Requests().size(), 2u);
    }
}

// The check at loading: "Checking", the bytes checked and a message pass
// after each 1 MiB block; Cancel or Close end it as they end a transfer.
TEST(DownloadCheck, TheCheckShowsItsProgressAndEndsOnCancelOrClose)
{
    const std::string bytes(3 << 20, 'x'), hash = HexText(TSha256::Of(bytes));
    for (const auto end : {TKind::Finished, TKind::Cancelled, TKind::Closed}) {
        TTempCurrentDirectory dir;
        WriteTextFile(dir.Path + "\\a.txt", bytes);
        TScriptedServer server;
        server.Script({Ok(ListText({ListLine("A", "3145728", "3145728", "a", "{prog}\\a.txt", "") + "\t\t" + hash}))});
        TStatusObserver observer;
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = run.SystemDir = dir.Path;
        run.Observer = &observer;
        observer.OnStatus = [&](const std::string& Text) {
            if (Text == "Checking" && end != TKind::Finished)
                end == TKind::Closed ? run.Close() : run.Cancel();
        };
        EXPECT_EQ(run.Execute().Kind, end);
        const bool whole = end == TKind::Finished; // else ended after the first block
        EXPECT_EQ(std::tuple(run.FileList()[0].State == TRowState::Complete, observer.Shown, observer.Passes, observer.Words.back()),
                  std::tuple(whole, whole ? 3 << 20 : 1 << 20, whole ? 3 : 1, whole ? "Transferred:" : "Checking"));
    }
}

TEST(DownloadRetry, TheLogTellsWhatHappenedAndNoCredential)
{
    TTempCurrentDirectory dir;
    const std::string logFile = dir.Path + "\\QMLoader.log";
    // An earlier log past its limit: only its last whole lines stay.
    std::string old;
    for (int i = 0; old.size() <= TRunLog::MaxSize; ++i)
        old += "old line " + std::to_string(i) + "\r\n";
    WriteTextFile(logFile, old);
    TScriptedServer server;
    const std::string list = ListText({ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", ""),
                                       ListLine("B", "3", "3", "b.bin", "{prog}\\b.txt", "")});
    server.Script({Ok(list),
                   Raw("HTTP/1.0 503 Busy\x1B[2K" + std::string(300, 'r') + "\r\nRetry-After: 0\r\n\r\n"), Ok("abc"),
                   Raw("HTTP/1.0 403 Forbidden\r\n\r\n")});
    TDownloadRun run([&] { return "http://alice:s3cret@" + server.Address() + "/"; }, "");
    run.DownloadDir = run.SystemDir = dir.Path;
    run.LogFile = logFile;
    EXPECT_EQ(run.Execute().Message, "Failed : 403 Forbidden");
    ASSERT_NE(server.Requests()[0].find("Authorization: Basic " + EncodeBase64("alice:s3cret")), std::string::npos);

    const std::string log = ReadWholeFile(logFile);
    EXPECT_LE(log.size(), static_cast<std::size_t>(TRunLog::MaxSize) + 4096);
    EXPECT_TRUE(log.starts_with("old line ")) << log.substr(0, 40);
    const std::string url = "http://" + server.Address() + "/";
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z )");
    const std::string news = log.substr(log.find("Z run: QMLoader") - 23);
    for (std::size_t at = 0, end; (end = news.find("\r\n", at)) != std::string::npos; at = end + 2)
        EXPECT_TRUE(std::regex_search(news.substr(at, end - at), stamp)) << news.substr(at, end - at);
    for (const std::string& expected : std::vector<std::string>{
             "run: QMLoader 1.", "server 127.0.0.1:" + std::to_string(server.Port()), "proxy: none",
             "file list: " + std::to_string(list.size()) + " bytes, 2 rows, 0 in place already",
             "at load: " + dir.Path + "\\a.txt: missing",
             "GET " + url + "a.bin: status 503, 0 bytes",
             "no hash listed; failed (the server's status): Failed : 503 Busy\\x1B[2K" + std::string(179, 'r') + "...\r\n",
             "retry: the server's status; try 2 of 3 in 0.0 s (Retry-After: 0)",
             "GET " + url + "a.bin: status 200, 3 bytes",
             "placed: " + dir.Path + "\\a.txt",
             "GET " + url + "b.bin: status 403",
             "end: download failed: Failed : 403 Forbidden"})
        EXPECT_NE(news.find(expected), std::string::npos) << expected << "\n" << news;
    for (const std::string& secret : {std::string("alice"), std::string("s3cret"), EncodeBase64("alice:s3cret"), std::string("\x1B")})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

// The log cut on a line start when opened past its limit (that line kept), and cut again when a run's lines take it past.
TEST(DownloadRetry, TheLogIsCutOnWholeLinesWheneverItPassesItsLimit)
{
    TTempCurrentDirectory dir;
    const std::string path = dir.Path + "\\QMLoader.log";
    for (const auto& [before, written] : {std::pair<std::int64_t, std::size_t>{TRunLog::MaxSize + 64, 0}, {TRunLog::MaxSize - 64, 4}}) {
        std::string old;
        while (static_cast<std::int64_t>(old.size()) < before)
            old += std::string(30, 'o') + "\r\n";
        WriteTextFile(path, old);
        TRunLog log;
        log.Open(path);
        for (std::size_t i = 0; i < written; ++i)
            log.Line(std::string(100, 'n'));
        log.Close();
        const std::string kept = ReadWholeFile(path);
        EXPECT_TRUE(written ? kept.ends_with("n\r\n") && kept.size() < TRunLog::KeepSize + 128 * written : kept.size() == TRunLog::KeepSize) << kept.size();
    }
}

} // namespace
} // namespace qm::test
