// The plain connection's read-ahead under THttpCli, against the scripted
// server: whole bodies at the edges of the client's 8191-byte pieces and of
// one read, bytes written one at a time, and a close, a reset and Abort
// arriving while bytes are held.
#include "ScriptedServer.h"
#include "http/HttpProt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

enum class TAtFirstChunk { Nothing, PostReadAndClose, PostClose, PostReset, Abort };

struct TReadAheadCase {
    const char* Name;
    std::size_t BodySize;
    std::size_t PieceSize; // the server's writes
    TExchange::TEnd End;
    TAtFirstChunk At;
    std::string Outcome; // what Get raised, "" for nothing
};

class ReadAhead : public ::testing::TestWithParam<TReadAheadCase> {};

TEST_P(ReadAhead, EveryByteArrivesOnceInOrder)
{
    const TReadAheadCase& t = GetParam();
    std::string body(t.BodySize, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i % 251);
    TScriptedServer server;
    server.Script({{Pieces("HTTP/1.0 200 OK\r\n\r\n" + body, t.PieceSize, 0), t.End}});
    THttpCli c;
    TMemoryStream sink;
    c.RcvdStream = &sink;
    c.URL = "http://" + server.Address() + "/r";
    std::string seen;
    std::vector<std::int32_t> chunks;
    c.OnDocData = [&](THttpCli& s, const void* b, std::int32_t n) {
        seen.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
        chunks.push_back(n);
        if (chunks.size() > 1 || t.At == TAtFirstChunk::Nothing)
            return;
        Sleep(100); // the rest arrives and stays held
        const long events[] = {0, FD_READ | FD_CLOSE, FD_CLOSE, WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET)};
        if (t.At == TAtFirstChunk::Abort)
            s.Abort();
        else
            PostMessageA(s.Socket().Handle(), TWSocket::WM_SOCKET_EVENT, s.Socket().HSocket(),
                         events[static_cast<int>(t.At)]);
    };
    std::string outcome;
    try {
        c.Get();
    } catch (const EHttpException& e) {
        outcome = std::to_string(e.ErrorCode) + " " + e.Message;
    }
    EXPECT_EQ(outcome, t.Outcome);
    EXPECT_EQ(c.State(), hsReady);
    EXPECT_LE(*std::max_element(chunks.begin(), chunks.end()), THttpCli::BufferSize - 1);
    if (t.At == TAtFirstChunk::Abort) { // nothing after the chunk that aborted, and it is not written
        EXPECT_EQ(chunks.size(), 1U);
        EXPECT_EQ(sink.AsString(), "");
        EXPECT_EQ(seen, body.substr(0, seen.size()));
        return;
    }
    EXPECT_EQ(seen, body);
    EXPECT_EQ(sink.AsString(), body);
}

using enum TAtFirstChunk;
using enum TExchange::TEnd;
constexpr std::size_t all = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Http, ReadAhead,
    ::testing::Values(TReadAheadCase{"Body8191", 8191, all, Close, Nothing, ""},
                      TReadAheadCase{"Body8192", 8192, all, Close, Nothing, ""},
                      TReadAheadCase{"Body65536", 65536, all, Close, Nothing, ""},
                      TReadAheadCase{"OneByteWrites", 3000, 1, Close, Nothing, ""},
                      TReadAheadCase{"DataAndCloseInOneNotification", 200000, all, Close, PostReadAndClose, ""},
                      TReadAheadCase{"CloseWhileBytesAreHeld", 200000, all, Close, PostClose, ""},
                      TReadAheadCase{"ResetAfterHeldBytes", 200000, all, WaitPeer, PostReset,
                                     "404 connection broken: Connection reset by peer (Error #10054)"},
                      TReadAheadCase{"AbortWithBytesHeld", 200000, all, WaitPeer, Abort,
                                     "404 Connection aborted on request"}),
    [](const auto& p) { return std::string(p.param.Name); });

} // namespace
