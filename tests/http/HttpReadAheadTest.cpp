// The plain connection's read-ahead under THttpCli: bodies at the edges of the client's pieces and of one
// read, one-byte writes, and a close, a reset and Abort arriving while bytes are held.
#include "ScriptedServer.h"
#include "http/HttpProt.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::test;

// What the first chunk's handler does once the rest has arrived: post one of these notifications, or Abort.
static constexpr long readAndClose = FD_READ | FD_CLOSE, reset = WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET),
                      abort_ = -1;
static constexpr std::size_t all = 1 << 20;

struct TReadAheadCase {
    const char* Name;
    std::size_t BodySize, PieceSize; // PieceSize: of the server's writes
    TExchange::TEnd End;
    long AtFirstChunk; // 0: nothing
    std::string Outcome; // what Get raised, "" for nothing
};

TEST(HttpCli, ReadAheadHandsOutEveryByteOnceInOrder)
{
    using enum TExchange::TEnd;
    for (const TReadAheadCase& t : {
             TReadAheadCase{"8191", 8191, all, Close, 0, ""}, TReadAheadCase{"8192", 8192, all, Close, 0, ""},
             TReadAheadCase{"65536", 65536, all, Close, 0, ""}, TReadAheadCase{"one-byte writes", 3000, 1, Close, 0, ""},
             TReadAheadCase{"data and close in one notification", 200000, all, Close, readAndClose, ""},
             TReadAheadCase{"a close while bytes are held", 200000, all, Close, FD_CLOSE, ""},
             TReadAheadCase{"a reset after held bytes", 200000, all, WaitPeer, reset,
                            "404 connection broken: Connection reset by peer (Error #10054)"},
             TReadAheadCase{"Abort with bytes held", 200000, all, WaitPeer, abort_, "404 Connection aborted on request"}}) {
        SCOPED_TRACE(t.Name);
        std::string body(t.BodySize, '\0'), seen, outcome;
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>(i % 251);
        TScriptedServer server;
        server.Script({{Pieces("HTTP/1.0 200 OK\r\n\r\n" + body, t.PieceSize, 0), t.End}});
        THttpCli c;
        TMemoryStream sink;
        c.RcvdStream = &sink;
        c.URL = "http://" + server.Address() + "/r";
        std::size_t chunks = 0;
        c.OnDocData = [&](THttpCli& s, const void* b, std::int32_t n) {
            EXPECT_LE(n, THttpCli::BufferSize - 1);
            seen.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
            if (++chunks == 1 && t.AtFirstChunk != 0 && (Sleep(100), t.AtFirstChunk == abort_))
                s.Abort();
            else if (chunks == 1 && t.AtFirstChunk != 0)
                PostMessageA(s.Socket().Handle(), TWSocket::WM_SOCKET_EVENT, s.Socket().HSocket(), t.AtFirstChunk);
        };
        try {
            c.Get();
        } catch (const EHttpException& e) {
            outcome = std::to_string(e.ErrorCode) + " " + e.Message;
        }
        EXPECT_EQ(outcome, t.Outcome);
        const bool aborted = t.AtFirstChunk == abort_; // nothing after that chunk, which is not written
        EXPECT_EQ(chunks == 1, aborted);
        EXPECT_EQ(seen, aborted ? body.substr(0, seen.size()) : body);
        EXPECT_EQ(sink.AsString(), aborted ? "" : body);
    }
}
