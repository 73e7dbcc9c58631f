// A peer that resets the connection (SO_LINGER 0, then close) while the
// socket receives, sends or reads a line: the events and LastError a caller
// sees. Also: a wait control destroyed before its socket.
#include "SocketTestUtil.h"

#include "net/Wait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

// Resets the server side of a connection: linger 0, then close.
void ResetPeer(TWSocket& Peer)
{
    const linger hard{1, 0};
    ASSERT_EQ(setsockopt(Peer.HSocket(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard),
              0);
    Peer.Abort();
}

// What the client saw: every close event's error code, in order.
struct Seen {
    std::vector<std::uint16_t> Closes;
    std::size_t Received = 0;
};

void Watch(TWSocket& c, Seen& seen)
{
    c.OnSessionClosed = [&seen](TCustomWSocket&, std::uint16_t e) { seen.Closes.push_back(e); };
}

} // namespace

// Data is waiting unread in the client when the reset comes: the data that
// arrived first still reaches the reader, then one close event.
TEST(WSocketReset, DuringAReceive)
{
    TestServer server;
    TWSocket c;
    Seen seen;
    Watch(c, seen);
    bool hold = true; // the reader reads nothing until the reset is under way
    c.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        if (hold)
            return;
        char buf[4096];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            seen.Received += static_cast<std::size_t>(n);
    };
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText(std::string(3000, 'x'));
    PumpFor(100);
    ResetPeer(*peer);
    hold = false;
    ASSERT_TRUE(PumpUntil([&] { return !seen.Closes.empty(); }));
    PumpFor(100);
    EXPECT_EQ(seen.Closes.size(), 1U);
    EXPECT_EQ(c.State(), wsClosed);
    std::printf("receive: %zu bytes before the close, close error %u, LastError %d\n", seen.Received,
                seen.Closes[0], c.LastError());
    // Wine delivers what arrived before the reset and reports the close with
    // error 0; Windows may drop the unread bytes and report WSAECONNRESET.
    EXPECT_TRUE((seen.Received == 3000 && seen.Closes[0] == 0) || seen.Closes[0] == WSAECONNRESET)
        << seen.Received << " " << seen.Closes[0];
}

// The client keeps sending to a peer that reads nothing and resets: the
// send fails with a reset, the socket closes itself and reports one close
// with error 0; the queue is dropped.
TEST(WSocketReset, DuringASend)
{
    TestServer server;
    TWSocket c;
    Seen seen;
    Watch(c, seen);
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    const auto block = Pattern(1 << 20);
    for (int i = 0; i < 8 && c.State() == wsConnected; ++i)
        c.Send(block.data(), static_cast<int>(block.size()));
    ASSERT_FALSE(c.AllSent()) << "the peer's window should have filled";
    ResetPeer(*peer);
    ASSERT_TRUE(PumpUntil([&] { return !seen.Closes.empty(); }));
    PumpFor(100);
    EXPECT_EQ(seen.Closes.size(), 1U);
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_TRUE(c.AllSent());
    std::printf("send: close error %u, LastError %d\n", seen.Closes[0], c.LastError());
    EXPECT_EQ(c.LastError(), 0) << "the failed send is not reported as an error";
    EXPECT_TRUE(seen.Closes[0] == 0 || seen.Closes[0] == WSAECONNRESET) << seen.Closes[0];
    EXPECT_EQ(ErrorOf([&] { c.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");
}

// A reset in the middle of a line, while ReadLine waits for its end, ends
// ReadLine with the partial line and closes the socket like an orderly close.
TEST(WSocketReset, DuringAReadLine)
{
    TestServer server;
    TWSocket c;
    c.MultiThreaded = true;
    Seen seen;
    Watch(c, seen);
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("partial");
    PumpFor(100);
    // The reset comes from a timer that the wait's own message loop runs.
    static TWSocket* resetting;
    resetting = peer;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR Id, DWORD) {
        KillTimer(nullptr, Id);
        if (resetting)
            ResetPeer(*std::exchange(resetting, nullptr));
    });
    ASSERT_NE(timer, 0U);
    const ULONGLONG start = GetTickCount64();
    std::string line;
    c.ReadLine(5, line);
    EXPECT_EQ(resetting, nullptr) << "the reset came during the wait";
    EXPECT_LT(GetTickCount64() - start, 4000U) << "the reset must end the wait";
    EXPECT_EQ(line, "partial");
    ASSERT_TRUE(PumpUntil([&] { return !seen.Closes.empty(); }));
    EXPECT_EQ(seen.Closes.size(), 1U);
    EXPECT_EQ(c.State(), wsClosed);
    std::printf("readline: close error %u, LastError %d\n", seen.Closes[0], c.LastError());
    EXPECT_EQ(c.LastError(), 0) << "a reset ends the line like an orderly close";
}

TEST(WSocketWaitCtrl, DestroyedControlIsForgottenBySocket)
{
    TWSocket c;
    {
        TWait wait(nullptr);
        c.SetWaitCtrl(&wait);
        EXPECT_EQ(c.WaitCtrl(), &wait);
    }
    EXPECT_EQ(c.WaitCtrl(), nullptr);
    std::string line;
    EXPECT_EQ(ErrorOf([&] { c.ReadLine(1, line); }), "No wait object assigned");
    // A socket that goes first withdraws its registration.
    auto wait = std::make_unique<TWait>(nullptr);
    {
        TWSocket other;
        other.SetWaitCtrl(wait.get());
    }
    wait.reset(); // would call into the destroyed socket otherwise
}
