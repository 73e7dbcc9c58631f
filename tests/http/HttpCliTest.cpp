// THttpCli against a scripted loopback server: the request text, the
// responses and relocations, the event order, Abort, busy and the decided
// failure cases, and destruction from inside every event.
#include "ScriptedServer.h"
#include "http/HttpProt.h"
#include "ui/Application.h"
#include "ui/ObjectWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

const char* StateName(THttpCliState s)
{
    static const char* const names[] = {"hsReady", "hsConnecting", "hsDnsLookup",
                                        "hsConnected", "hsReceiving", "hsAborting"};
    return names[s];
}

// Records every event of a client as text, in order.
struct TRecorder {
    std::vector<std::string> Events;
    std::string Body;
    std::function<void(const std::string&)> OnEvent; // after recording

    void Attach(THttpCli& c)
    {
        const auto note = [this](std::string e) {
            Events.push_back(e);
            if (OnEvent)
                OnEvent(e);
        };
        c.OnStateChange = [note](THttpCli& s) { note(std::string("State ") + StateName(s.State())); };
        c.OnHeaderBegin = [note](THttpCli&) { note("HeaderBegin"); };
        c.OnHeaderEnd = [note](THttpCli&) { note("HeaderEnd"); };
        c.OnHeaderData = [note](THttpCli&) { note("HeaderData"); };
        c.OnCommand = [note](THttpCli&, const std::string& s) { note("Command " + s); };
        c.OnDocBegin = [note](THttpCli&) { note("DocBegin"); };
        c.OnDocData = [this, note](THttpCli&, const void* b, std::int32_t n) {
            Body.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
            note("DocData");
        };
        c.OnDocEnd = [note](THttpCli&) { note("DocEnd"); };
        c.OnSendBegin = [note](THttpCli&) { note("SendBegin"); };
        c.OnSendData = [note](THttpCli&, const void*, std::int32_t n) { note("SendData " + std::to_string(n)); };
        c.OnSendEnd = [note](THttpCli&) { note("SendEnd"); };
        c.OnRequestDone = [note](THttpCli&, THttpRequest r, std::uint16_t e) {
            note("RequestDone " + std::to_string(r) + " " + std::to_string(e));
        };
    }
    std::size_t Count(const std::string& e) const { return static_cast<std::size_t>(std::count(Events.begin(), Events.end(), e)); }
};

// What Get raised: "" when it returned, else "<code> <message>".
std::string Outcome(const std::function<void()>& Run)
{
    try {
        Run();
    } catch (const EHttpException& e) {
        return std::to_string(e.ErrorCode) + " " + e.Message;
    }
    return "";
}

TExchange Reply(std::string Bytes, TExchange::TEnd End = TExchange::TEnd::Close)
{
    return {{{std::move(Bytes)}}, End};
}

const std::string ok = "HTTP/1.0 200 OK\r\n\r\nbody";

// ---- request text ---------------------------------------------------------

struct TRequestCase {
    const char* Name;
    std::function<void(THttpCli&, const std::string& Address)> Setup;
    THttpRequest Kind;
    std::string Expected;
};

TMemoryStream postData(std::vector<std::uint8_t>{'a', '=', '1', '&', 'b', '=', '2'});
TMemoryStream emptyPost;

class RequestText : public ::testing::TestWithParam<TRequestCase> {};

TEST_P(RequestText, IsSentByteForByte)
{
    TScriptedServer server;
    server.Script({Reply(ok)});
    THttpCli c;
    GetParam().Setup(c, server.Address());
    postData.Seek(0);
    emptyPost.Seek(0);
    EXPECT_EQ(Outcome([&] { c.ExecuteRequest(GetParam().Kind); }), "");
    ASSERT_EQ(server.Requests().size(), 1U);
    EXPECT_EQ(server.Requests()[0], GetParam().Expected);
}

const auto direct = [](std::string Path) {
    return [Path](THttpCli& c, const std::string& a) { c.URL = "http://" + a + Path; };
};

INSTANTIATE_TEST_SUITE_P(
    Http, RequestText,
    ::testing::Values(
        TRequestCase{"PlainGet", direct("/a/b.zip?x=1"), rqGet,
                     "GET /a/b.zip?x=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"},
        TRequestCase{"NoPathNoScheme", [](THttpCli& c, const std::string& a) { c.URL = a; }, rqGet,
                     "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"},
        TRequestCase{"ThroughProxy",
                     [](THttpCli& c, const std::string& a) {
                         c.Proxy = a;
                         c.URL = "origin.test/x";
                     },
                     rqGet, "GET http://origin.test/x HTTP/1.0\r\nHost: origin.test\r\n\r\n"},
        TRequestCase{"ProxyPortWhenProxyNamesNone",
                     [](THttpCli& c, const std::string& a) {
                         c.Proxy = "127.0.0.1";
                         c.ProxyPort = a.substr(a.find(':') + 1);
                         c.URL = "http://origin.test:81/";
                     },
                     rqGet, "GET http://origin.test:81/ HTTP/1.0\r\nHost: origin.test\r\n\r\n"},
        TRequestCase{"CredentialsInUrl",
                     [](THttpCli& c, const std::string& a) { c.URL = "http://us:pa:ss@" + a + "/d/"; }, rqGet,
                     "GET /d/ HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic dXM6cGE6c3M=\r\n\r\n"},
        TRequestCase{"UserWithoutPassword",
                     [](THttpCli& c, const std::string& a) {
                         c.URL = "http://" + a + "/";
                         c.Username = "user";
                     },
                     rqGet, "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic dXNlcjo=\r\n\r\n"},
        TRequestCase{"PasswordWithoutUserSendsNothing",
                     [](THttpCli& c, const std::string& a) {
                         c.URL = "http://" + a + "/";
                         c.Password = "secret";
                     },
                     rqGet, "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"},
        TRequestCase{"WithAProxyTheCredentialsAreOnlyTheProxys",
                     [](THttpCli& c, const std::string& a) {
                         c.Proxy = a;
                         c.URL = "http://origin.test/f";
                         c.Username = "u";
                         c.Password = "p";
                     },
                     rqGet, "GET http://origin.test/f HTTP/1.0\r\nHost: origin.test\r\nProxy-Authorization: Basic dTpw\r\n\r\n"},
        TRequestCase{"ThroughAProxyCredentialsInTheUrlAreTheServers", [](THttpCli& c, const std::string& a) { c.Proxy = a, c.URL = "http://u:p@o/"; },
                     rqGet, "GET http://u:p@o/ HTTP/1.0\r\nHost: o\r\nAuthorization: Basic dTpw\r\n\r\n"},
        TRequestCase{"EveryOptionalLineInOrder",
                     [](THttpCli& c, const std::string& a) {
                         c.URL = "http://" + a + "/";
                         c.Sender = "me@x";
                         c.Reference = "http://r/";
                         c.Agent = "qm";
                         c.NoCache = true;
                         c.ModifiedSince = EncodeDateTime(1998, 1, 2, 3, 4, 5);
                         c.Cookie = "k=v";
                     },
                     rqGet,
                     "GET / HTTP/1.0\r\nFrom: me@x\r\nReferer: http://r/\r\nUser-Agent: qm\r\nHost: 127.0.0.1\r\n"
                     "Pragma: no-cache\r\nIf-Modified-Since: Fri, 02 Jan 1998 03:04:05 GMT\r\nCookie: k=v\r\n\r\n"},
        TRequestCase{"PostWithData",
                     [](THttpCli& c, const std::string& a) {
                         c.URL = "http://" + a + "/p";
                         c.SendStream = &postData;
                     },
                     rqPost,
                     "POST /p HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\nHost: 127.0.0.1\r\n"
                     "Content-Length: 7\r\n\r\na=1&b=2"},
        TRequestCase{"PostWithoutData",
                     [](THttpCli& c, const std::string& a) {
                         c.URL = "http://" + a + "/p";
                         c.SendStream = &emptyPost;
                         c.ContentTypePost.clear();
                     },
                     rqPost, "POST /p HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n"},
        TRequestCase{"Head", direct("/h"), rqHead, "HEAD /h HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST(HttpCli, CredentialsFromTheUrlStayAndDocNameComesFromThePath)
{
    TScriptedServer server;
    server.Script({Reply(ok)});
    THttpCli c;
    c.URL = "http://us:pa:ss@" + server.Address() + "/d/";
    c.Get();
    EXPECT_EQ(c.Username, "us");
    EXPECT_EQ(c.Password, "pa:ss");
    EXPECT_EQ(c.DocName(), "d");
}

TEST(HttpCli, PostEventsAndSentCount)
{
    TScriptedServer server;
    server.Script({Reply(ok), Reply(ok)});
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    c.URL = "http://" + server.Address() + "/p";
    const auto big = std::string(20000, 'q');
    TMemoryStream data(std::vector<std::uint8_t>(big.begin(), big.end()));
    c.SendStream = &data;
    c.ExecuteRequest(rqPost);
    EXPECT_EQ(c.SentCount(), 20000);
    EXPECT_EQ(r.Count("SendData 8192"), 2U);
    EXPECT_EQ(r.Count("SendData 3616"), 1U);
    EXPECT_EQ(r.Count("SendEnd"), 1U);
    ASSERT_EQ(server.Requests().size(), 1U);
    EXPECT_EQ(server.Requests()[0].substr(server.Requests()[0].size() - 20000), big);
    // An empty post stream: SendBegin directly followed by SendEnd.
    TMemoryStream none;
    c.SendStream = &none;
    r.Events.clear();
    c.ExecuteRequest(rqPost);
    const auto begin = std::find(r.Events.begin(), r.Events.end(), "SendBegin");
    ASSERT_NE(begin, r.Events.end());
    EXPECT_EQ(*(begin + 1), "SendEnd");
}

// ---- event order ----------------------------------------------------------

TEST(HttpCli, EventOrderOfAPlainGet)
{
    TScriptedServer server;
    server.Script({{{{"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"}, {"abc", 50}}}});
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    c.URL = "http://" + server.Address() + "/f.txt";
    c.Get();
    const std::vector<std::string> expected{
        "State hsConnecting", "State hsDnsLookup", "State hsConnecting", "State hsConnected",
        "HeaderBegin", "Command GET /f.txt HTTP/1.0", "Command Host: 127.0.0.1", "HeaderEnd", "Command ",
        "HeaderBegin", "HeaderData", "HeaderData", "State hsReceiving", "HeaderEnd", "DocBegin", "DocData",
        "DocEnd", "State hsReady", "RequestDone 1 0"};
    EXPECT_EQ(r.Events, expected);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ContentType(), "text/plain");
    EXPECT_EQ(r.Body, "abc");
}

// ---- responses --------------------------------------------------------------

struct TResponseCase {
    const char* Name;
    std::string Path; // of the first request
    std::vector<TExchange> Script;
    std::string Outcome; // what Get raised, "" for nothing
    int Status;
    std::string Body;
    std::vector<std::string> RequestLines; // first line of each request
    std::string DocName = "";
    std::int64_t ContentLength = -1; // -1: not checked
    unsigned StallMs = 120000;
    bool Reset = false; // at the first chunk, as Windows reports one (Wine: as a plain close)
    std::string RetryAfter = "";
};

// Header lines and the empty line that ends them.
std::string Hdr(const std::string& Lines)
{
    return Lines + "\r\n\r\n";
}

class Response : public ::testing::TestWithParam<TResponseCase> {};

TEST_P(Response, IsHandledAsACallerExpects)
{
    const TResponseCase& t = GetParam();
    TScriptedServer server;
    server.Script(t.Script);
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    TMemoryStream sink;
    c.RcvdStream = &sink;
    c.URL = "http://" + server.Address() + t.Path;
    c.StallTimeout = std::chrono::milliseconds(t.StallMs);
    r.OnEvent = [&](const std::string& e) {
        if (t.Reset && e == "DocData")
            PostMessageA(c.Socket().Handle(), TWSocket::WM_SOCKET_EVENT, c.Socket().HSocket(),
                         WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET));
    };
    const auto cpuMs = [] { // the thread's kernel and user time
        FILETIME times[4];
        GetThreadTimes(GetCurrentThread(), &times[0], &times[1], &times[2], &times[3]);
        return (std::bit_cast<ULONGLONG>(times[2]) + std::bit_cast<ULONGLONG>(times[3])) / 10000;
    };
    const ULONGLONG cpuBefore = cpuMs();
    EXPECT_EQ(Outcome([&] { c.Get(); }), t.Outcome);
    EXPECT_TRUE(t.StallMs == 120000 || cpuMs() - cpuBefore < 200) << "the wait sleeps while nothing arrives";
    EXPECT_EQ(c.StatusCode(), t.Status);
    EXPECT_EQ(r.Body, t.Body);
    EXPECT_EQ(sink.AsString(), t.Body);
    EXPECT_EQ(c.RcvdCount(), static_cast<std::int64_t>(t.Body.size()));
    EXPECT_EQ(r.Count("DocBegin"), t.Body.empty() ? 0U : 1U);
    EXPECT_EQ(r.Count("DocEnd"), t.Body.empty() ? 0U : 1U);
    EXPECT_EQ(r.Count("RequestDone 1 0"), 1U);
    EXPECT_EQ(c.State(), hsReady);
    std::vector<std::string> lines;
    for (const auto& q : server.Requests())
        lines.push_back(q.substr(0, q.find("\r\n")));
    EXPECT_EQ(lines, t.RequestLines);
    if (!t.DocName.empty()) {
        EXPECT_EQ(c.DocName(), t.DocName);
    }
    if (t.ContentLength >= 0) {
        EXPECT_EQ(c.ContentLength(), t.ContentLength);
    }
    EXPECT_EQ(c.RetryAfter(), t.RetryAfter);
    // Why it failed, as the retry decision reads it; the others did not.
    using F = TRequestFailure;
    const std::map<std::string, F> failures{
        {"NotFoundClosesAtOnce", F::Status},    {"BadStatusCodeFails", F::Malformed}, {"BadContentLengthFails", F::Malformed},
        {"LongerHeaderFails", F::Malformed},    {"StallFails", F::Stall},             {"ResetWithoutLengthFails", F::Reset},
        {"HeaderLineLongerThanTheBufferFails", F::Malformed}, {"TrickleFails", F::Stall}, {"RetryAfterInALaterPacket", F::Status},
        {"AStatusStandsIfItsHeaderStalls", F::Status}};
    EXPECT_EQ(c.Failure(), failures.contains(t.Name) ? failures.at(t.Name) : F::None);
}

const std::string longLine(9000, 'h');
const std::string headerPast64k = [] { // 65537 bytes: the status line, lines of 1023 bytes, the empty line
    std::string s = "HTTP/1.0 200 OK\r\n" + std::string(65519, 'v') + "\n";
    for (std::size_t lf = 1023; lf < s.size(); lf += 1024)
        s[lf] = '\n';
    return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Http, Response,
    ::testing::Values(
        TResponseCase{"ContentLengthWithoutBlank", "/a", {Reply(Hdr("HTTP/1.1 200 OK\r\nContent-Length:\t 4") + "body")},
                      "", 200, "body", {"GET /a HTTP/1.0"}, "a", 4},
        TResponseCase{"NotFoundClosesAtOnce", "/a",
                      {Reply(Hdr("HTTP/1.1 404 Not Found\r\nX: 1") + "page", TExchange::TEnd::WaitPeer)},
                      "404 Not Found", 404, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"LowerCaseVersionIsNoStatusLine", "/a", {Reply(Hdr("http/1.0 200 OK") + "x")}, "", 0, "x",
                      {"GET /a HTTP/1.0"}},
        TResponseCase{"ClosedBeforeAnyStatusLine", "/a", {Reply("")}, "", 0, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"ExeServedAsHtmlIsRenamed", "/setup.exe",
                      {Reply(Hdr("HTTP/1.0 200 OK\r\nContent-Type: text/html") + "<p>")}, "", 200, "<p>",
                      {"GET /setup.exe HTTP/1.0"}, "setup.htm"},
        TResponseCase{"ExeWithCharsetKeepsItsName", "/setup.exe",
                      {Reply(Hdr("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=x") + "<p>")}, "", 200, "<p>",
                      {"GET /setup.exe HTTP/1.0"}, "setup.exe"},
        TResponseCase{"RelocationToAPath", "/old",
                      {Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: /new") + "dropped"), Reply(ok)}, "", 200, "body",
                      {"GET /old HTTP/1.0", "GET /new HTTP/1.0"}, "old"},
        TResponseCase{"TwoHundredWithLocationAndSeveralHops", "/1",
                      {Reply(Hdr("HTTP/1.0 200 OK\r\nLocation: /2")), Reply(Hdr("HTTP/1.0 301 M\r\nLocation: /3")),
                       Reply(ok)},
                      "", 200, "body", {"GET /1 HTTP/1.0", "GET /2 HTTP/1.0", "GET /3 HTTP/1.0"}},
        TResponseCase{"HeaderAndBodyInManySmallReads", "/s",
                      {{Pieces(Hdr("HTTP/1.0 200 OK\r\nContent-Type: a/b") + std::string(3000, 'z'), 97, 2)}}, "",
                      200, std::string(3000, 'z'), {"GET /s HTTP/1.0"}},
        TResponseCase{"ZeroByteInAHeaderLine", "/z", {Reply(Hdr(std::string("HTTP/1.0 200 OK\r\nX-A: a\0b", 25)) + "x")},
                      "", 200, "x", {"GET /z HTTP/1.0"}},
        TResponseCase{"BadStatusCodeFails", "/a", {Reply(Hdr("HTTP/1.0 2x0 OK") + "x", TExchange::TEnd::WaitPeer)},
                      "404 bad status code in the response: '2x0'", 404, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"BadContentLengthFails", "/a",
                      {Reply(Hdr("HTTP/1.0 200 OK\r\nContent-Length: 12a") + "x", TExchange::TEnd::WaitPeer)},
                      "404 bad Content-Length in the response: '12a'", 404, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"HeaderLineLongerThanTheBufferFails", "/a",
                      {Reply("HTTP/1.0 200 OK\r\nX: " + longLine + "\r\n\r\n", TExchange::TEnd::WaitPeer)},
                      "404 response header line longer than 8191 bytes", 404, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"LongerHeaderFails", "/a",
                      {Reply(headerPast64k + "x", TExchange::TEnd::WaitPeer)},
                      "404 response header longer than 65536 bytes", 404, "", {"GET /a HTTP/1.0"}},
        TResponseCase{"RetryAfterInALaterPacket", "/a",
                      {{{{"HTTP/1.0 503 Busy\r\n"}, {"X: 1\r\nRetry-After: 7\r\n\r\npage", 300}}, TExchange::TEnd::WaitPeer}},
                      "503 Busy", 503, "", {"GET /a HTTP/1.0"}, "", -1, 120000, false, "7"},
        TResponseCase{"AStatusStandsIfItsHeaderStalls", "/a", {Reply("HTTP/1.0 429 Slow\r\nRetry-After: 3\r\n", TExchange::TEnd::WaitPeer)},
                      "429 Slow", 429, "", {"GET /a HTTP/1.0"}, "", -1, 1000, false, "3"},
        TResponseCase{"StallFails", "/a", {Reply(Hdr("HTTP/1.0 200 OK") + "part", TExchange::TEnd::WaitPeer)},
                      "404 the server stopped answering (fewer than 4096 bytes arrived in the last 2 s)", 404, "part",
                      {"GET /a HTTP/1.0"}, "", -1, 2000},
        // A byte every 100 ms would hold the request for 3 s; a trickle is a stall.
        TResponseCase{"TrickleFails", "/a", {{Pieces(Hdr("HTTP/1.0 200 OK\r\nX: " + std::string(240, 'x')), 8, 100)}},
                      "404 the server stopped answering (fewer than 4096 bytes arrived in the last 1 s)", 404, "",
                      {"GET /a HTTP/1.0"}, "", -1, 1000},
        TResponseCase{"ResetWithoutLengthFails", "/a", {Reply(Hdr("HTTP/1.0 200 OK") + "part", TExchange::TEnd::WaitPeer)},
                      "404 connection broken: Connection reset by peer (Error #10054)", 404, "part",
                      {"GET /a HTTP/1.0"}, "", -1, 120000, true}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST(HttpCli, RelocationToAnotherHostAndPort)
{
    TScriptedServer first, second;
    first.Script({Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: http://localhost:" + std::to_string(second.Port()) + "/y"))});
    second.Script({Reply(ok)});
    THttpCli c;
    c.Username = "u"; // not for the second server
    c.URL = "http://" + first.Address() + "/x";
    c.Get();
    ASSERT_EQ(second.Requests().size(), 1U);
    EXPECT_EQ(second.Requests()[0], "GET /y HTTP/1.0\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(c.RcvdHeader().Count(), 3) << "the lines of both responses";
    EXPECT_EQ(c.DocName(), "x");
}

// A relocation loop: 20 hops are followed, the 21st ends the request.
TEST(HttpCli, ARelocationLoopEndsAtTheTwentyFirstHop)
{
    TScriptedServer server;
    server.Script(std::vector<TExchange>(30, Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: /loop"))));
    THttpCli c;
    c.URL = "http://" + server.Address() + "/loop";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 Too many relocations: more than 20");
    EXPECT_EQ(server.Requests().size(), 21U);
}

TEST(HttpCli, ThroughAProxyALocationPathStaysOnTheOriginServer)
{
    TScriptedServer proxy;
    proxy.Script({Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: /b")),
                  Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: http://origin.test/c")), Reply(ok)});
    THttpCli c;
    c.Proxy = proxy.Address();
    c.Username = "u";
    c.URL = "http://origin.test:8080/a/x";
    c.Get();
    ASSERT_EQ(proxy.Requests().size(), 3U);
    EXPECT_EQ(proxy.Requests()[1], "GET http://origin.test:8080/b HTTP/1.0\r\nHost: origin.test\r\n"
                                   "Proxy-Authorization: Basic dTo=\r\n\r\n");
    EXPECT_EQ(proxy.Requests()[2], "GET http://origin.test/c HTTP/1.0\r\nHost: origin.test\r\nProxy-Authorization: Basic dTo=\r\n\r\n");
}

TEST(HttpCli, HeadGetsAnEmptyBody)
{
    TScriptedServer server;
    server.Script({Reply(Hdr("HTTP/1.0 200 OK\r\nContent-Length: 99"))});
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    c.URL = "http://" + server.Address() + "/h";
    c.ExecuteRequest(rqHead);
    EXPECT_EQ(c.ContentLength(), 99);
    EXPECT_EQ(c.RcvdCount(), 0);
    EXPECT_EQ(r.Count("DocBegin") + r.Count("DocEnd"), 0U);
}

TEST(HttpCli, TenMegabyteBodyIntoAFile)
{
    std::string body(10 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>((i * 7919) >> 3);
    TScriptedServer server;
    server.AddFile("big.bin", body);
    THttpCli c;
    c.SetMultiThreaded(true); // the other pump of the wait (the rest use the application's)
    const std::string path = "httpcli_big.bin";
    {
        TFileStream file(path, TFileStream::Mode::Create);
        c.RcvdStream = &file;
        c.URL = "http://" + server.Address() + "/big.bin";
        c.Get();
    }
    EXPECT_EQ(c.RcvdCount(), static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(c.ContentLength(), static_cast<std::int64_t>(body.size()));
    {
        TFileStream back(path, TFileStream::Mode::OpenRead);
        std::string got(body.size(), '\0');
        EXPECT_EQ(back.Read(got.data(), static_cast<std::int32_t>(got.size())), static_cast<std::int32_t>(body.size()));
        EXPECT_TRUE(got == body);
    }
    // Files mode answers anything else with 404.
    c.RcvdStream = nullptr;
    c.URL = "http://" + server.Address() + "/missing";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 Not Found");
    EXPECT_EQ(c.RcvdHeader().Count(), 1) << "the lines of this request only";
    EXPECT_EQ(std::remove(path.c_str()), 0);
}

// A stream whose writes fail after the first chunk, like a full disk.
class TFullStream : public TMemoryStream {
public:
    std::int32_t Write(const void* Buffer, std::int32_t Count) override
    {
        return Size() > 0 ? 0 : TMemoryStream::Write(Buffer, Count);
    }
};

TEST(HttpCli, FailedWriteToTheStreamEndsTheRequest)
{
    TScriptedServer server;
    server.Script({{{{"HTTP/1.0 200 OK\r\n\r\nfirst"}, {"second", 100}, {"third", 100}}, TExchange::TEnd::WaitPeer}});
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    TFullStream sink;
    c.RcvdStream = &sink;
    c.URL = "http://" + server.Address() + "/f";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 could not write the local file");
    EXPECT_EQ(sink.AsString(), "first");
    EXPECT_EQ(r.Body, "firstsecond") << "nothing after the failed chunk";
}

// ---- abort, busy ------------------------------------------------------------

// A window of the test that calls an action when a message posted to it is
// dispatched: stands for a Cancel button pressed during Get's wait.
class TPostedAction : private ui::TWindowOwner {
public:
    TPostedAction() : window_(ui::CreateOwnedWindow(*this, {.Name = "QmTestPostedAction"}, {})) {}
    virtual ~TPostedAction() = default;
    void Post(std::function<void()> Action)
    {
        action_ = std::move(Action);
        PostMessageA(window_.get(), WM_USER + 7, 0, 0);
    }

private:
    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override
    {
        if (Msg != WM_USER + 7)
            return DefWindowProcA(Wnd, Msg, WParam, LParam);
        if (action_)
            std::exchange(action_, nullptr)();
        return 0;
    }
    std::function<void()> action_;
    ui::TWindowHandle window_;
};

struct TAbortCase {
    const char* Name;
    const char* Host;    // "" for the server's address
    std::string Trigger; // the event after which the Cancel message is posted
    std::size_t BodyBefore;
};

class AbortDuring : public ::testing::TestWithParam<TAbortCase> {};

TEST_P(AbortDuring, EndsTheRequestWithError3AndGetRaises)
{
    const TAbortCase& t = GetParam();
    TScriptedServer server;
    server.Script({{{{"HTTP/1.0 200 OK\r\n"}, {"X: 1\r\n\r\nabc", 300}, {"def", 300}}, TExchange::TEnd::WaitPeer}});
    THttpCli c;
    TRecorder r;
    TPostedAction cancel;
    r.OnEvent = [&](const std::string& e) {
        if (e == t.Trigger)
            cancel.Post([&] { c.Abort(); });
    };
    r.Attach(c);
    c.URL = std::string("http://") + (*t.Host ? t.Host + (":" + std::to_string(server.Port())) : server.Address()) + "/x";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 Connection aborted on request");
    EXPECT_EQ(r.Count("State hsAborting"), 1U);
    EXPECT_EQ(r.Count("RequestDone 1 3"), 1U);
    EXPECT_EQ(r.Events.back(), "RequestDone 1 3");
    EXPECT_EQ(*(r.Events.end() - 2), "State hsReady");
    EXPECT_EQ(r.Body.size(), t.BodyBefore);
    EXPECT_EQ(r.Count("DocEnd"), t.BodyBefore ? 1U : 0U);
    // Usable again.
    r.OnEvent = nullptr;
    server.Script({Reply(ok)});
    c.URL = "http://" + server.Address() + "/again";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "");
    EXPECT_EQ(r.Body.substr(t.BodyBefore), "body");
}

INSTANTIATE_TEST_SUITE_P(Http, AbortDuring,
                         ::testing::Values(TAbortCase{"Lookup", "localhost", "State hsDnsLookup", 0},
                                           TAbortCase{"Connect", "", "State hsConnecting", 0},
                                           TAbortCase{"Header", "", "HeaderData", 0},
                                           TAbortCase{"Body", "", "DocData", 3}),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(HttpCli, AbortWhileReadyDoesNothingAndBusyAndNothingToPostAreRefused)
{
    TScriptedServer server;
    server.Script({Reply(ok)});
    THttpCli c;
    TRecorder r;
    r.Attach(c);
    c.Abort();
    EXPECT_TRUE(r.Events.empty());
    EXPECT_EQ(Outcome([&] { c.StartRequest(rqPost); }), "2 HTTP component has nothing to post");
    std::string busy;
    c.OnDocBegin = [&](THttpCli& s) { busy = Outcome([&] { s.StartRequest(rqGet); }); };
    c.URL = "http://" + server.Address() + "/x";
    c.Get();
    EXPECT_EQ(busy, "1 HTTP component is busy");
    EXPECT_EQ(c.StatusCode(), 200);
}

TEST(HttpCli, LookupRefusedBySocketLeavesTheClientReady)
{
    THttpCli c;
    c.URL = "http:///nohost";
    EXPECT_THROW(c.Get(), ESocketException);
    EXPECT_EQ(c.State(), hsReady);
}

TEST(HttpCli, ConnectionRefusedIsALocalFailure)
{
    std::uint16_t port;
    {
        TScriptedServer gone;
        port = gone.Port();
    }
    THttpCli c;
    c.URL = "http://127.0.0.1:" + std::to_string(port) + "/";
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 Connection refused (Error #10061)");
    EXPECT_EQ(c.Failure(), TRequestFailure::Connect);
}

// A connect to a kept address that fails looks the host up anew once before
// the request fails; a request that succeeds passes the lookup state once.
TEST(HttpCli, AFailedConnectToAKeptAddressLooksTheHostUpAgain)
{
    THttpCli c;
    c.KeepAddresses(true);
    TRecorder r;
    r.Attach(c);
    const auto lookups = [&] { return std::count(r.Events.begin(), r.Events.end(), "State hsDnsLookup"); };
    {
        TScriptedServer server;
        server.Script({Reply(ok), Reply(ok)});
        c.URL = "http://localhost:" + std::to_string(server.Port()) + "/";
        c.Get();
        c.Get();
        EXPECT_EQ(lookups(), 2);
    }
    r.Events.clear();
    EXPECT_EQ(Outcome([&] { c.Get(); }), "404 Connection refused (Error #10061)");
    EXPECT_EQ(lookups(), 2);
}

// ---- destruction from every event ----------------------------------------------

// Freed clients are overwritten and never handed out again, so any touch of
// a destroyed client reads garbage instead of a stale but intact object.
class TPoisonedCli : public THttpCli {
public:
    static void* operator new(std::size_t Size) { return ::operator new(Size); }
    static void operator delete(void* P, std::size_t Size)
    {
        std::memset(P, 0xDD, Size);
    }
};

struct TDestroyCase {
    std::string Event;
    THttpRequest Kind;
};

class DestroyFrom : public ::testing::TestWithParam<TDestroyCase> {};

TEST_P(DestroyFrom, EveryEventIsSafe)
{
    const TDestroyCase& t = GetParam();
    TScriptedServer server;
    server.Script({Reply(Hdr("HTTP/1.0 302 Found\r\nLocation: /2")), {{{"HTTP/1.0 200 OK\r\n\r\nabc"}, {"def", 50}}}});
    auto c = std::make_unique<TPoisonedCli>();
    TRecorder r;
    TPostedAction later;
    r.OnEvent = [&](const std::string& e) {
        if (e == t.Event && c) {
            if (t.Event == "State hsAborting" || !t.Event.starts_with("Posted"))
                c.reset();
        }
        if (e == "DocData" && t.Event == "State hsAborting" && c)
            c->Abort();
        if (e == "DocData" && t.Event == "Posted" && c)
            later.Post([&] { c.reset(); });
    };
    r.Attach(*c);
    TMemoryStream post(std::vector<std::uint8_t>(100, 'p'));
    c->SendStream = &post;
    c->URL = "http://" + server.Address() + "/1";
    EXPECT_EQ(Outcome([&] { c->ExecuteRequest(t.Kind); }), "404 Connection aborted on request");
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(r.Count(t.Event.starts_with("Posted") ? "DocData" : t.Event), 1U);
    ui::Application().ProcessMessages(); // stale messages for the dead client
}

INSTANTIATE_TEST_SUITE_P(
    Http, DestroyFrom,
    ::testing::Values(TDestroyCase{"State hsConnecting", rqGet}, TDestroyCase{"State hsDnsLookup", rqGet},
                      TDestroyCase{"State hsConnected", rqGet}, TDestroyCase{"HeaderBegin", rqGet},
                      TDestroyCase{"Command GET /1 HTTP/1.0", rqGet}, TDestroyCase{"Command ", rqGet},
                      TDestroyCase{"HeaderEnd", rqGet}, TDestroyCase{"HeaderData", rqGet},
                      TDestroyCase{"State hsReceiving", rqGet}, TDestroyCase{"DocBegin", rqGet},
                      TDestroyCase{"DocData", rqGet}, TDestroyCase{"DocEnd", rqGet},
                      TDestroyCase{"State hsReady", rqGet}, TDestroyCase{"RequestDone 1 0", rqGet},
                      TDestroyCase{"State hsAborting", rqGet}, TDestroyCase{"Posted", rqGet},
                      TDestroyCase{"SendBegin", rqPost}, TDestroyCase{"SendData 100", rqPost},
                      TDestroyCase{"SendEnd", rqPost}),
    [](const auto& p) {
        std::string n = p.param.Event.substr(0, p.param.Event.find(' ', 8));
        std::erase_if(n, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
        return n + std::to_string(p.index);
    });

} // namespace
