// Waiting and line reading, in both styles: MultiThreaded (tick count and
// PumpMessages) and with a wait control (its countdown and the
// application's message processing).
#include "SocketTestUtil.h"

#include "net/Wait.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

// Calls Action once after Ms milliseconds of message dispatching, so that a
// wait without a time bound of its own still ends when the code under test
// fails.
class Watchdog {
public:
    Watchdog(unsigned Ms, std::function<void()> Action) : action_(std::move(Action))
    {
        id_ = SetTimer(nullptr, 0, Ms, &Watchdog::Fire);
        Active()[id_] = this;
    }
    ~Watchdog()
    {
        KillTimer(nullptr, id_);
        Active().erase(id_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool Fired() const { return fired_; }

private:
    static std::map<UINT_PTR, Watchdog*>& Active()
    {
        static std::map<UINT_PTR, Watchdog*> active;
        return active;
    }
    static void CALLBACK Fire(HWND, UINT, UINT_PTR Id, DWORD)
    {
        const auto it = Active().find(Id);
        if (it == Active().end() || it->second->fired_)
            return;
        it->second->fired_ = true;
        it->second->action_();
    }
    std::function<void()> action_;
    UINT_PTR id_ = 0;
    bool fired_ = false;
};

ULONGLONG Elapsed(ULONGLONG since)
{
    return GetTickCount64() - since;
}

class WaitStyle : public ::testing::TestWithParam<bool> {
protected:
    void Prepare(TWSocket& s)
    {
        s.MultiThreaded = GetParam();
        if (!GetParam())
            s.SetWaitCtrl(&wait_);
    }
    // Connects client to server; the server side connection, or null.
    TWSocket* ConnectPair(TestServer& server, TWSocket& client)
    {
        Prepare(client);
        Aim(client, server.Port);
        client.Connect();
        if (!client.Wait(5, wsConnected))
            return nullptr;
        return server.WaitClient();
    }
    TWait wait_{nullptr};
};

} // namespace

TEST_P(WaitStyle, WaitForConnected)
{
    TestServer server;
    TWSocket c;
    EXPECT_TRUE(c.Wait(1, wsClosed)); // already there
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(c.State(), wsConnected);
}

TEST_P(WaitStyle, WaitForAFailingConnect)
{
    TWSocket c;
    Prepare(c);
    Aim(c, FreePort());
    c.Connect();
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(c.Wait(2, wsConnected));
    EXPECT_EQ(c.State(), wsClosed);
    if (GetParam())
        EXPECT_GE(Elapsed(start), 1900u); // runs until its deadline
    else
        EXPECT_LT(Elapsed(start), 1500u); // the close ends the countdown
}

TEST_P(WaitStyle, HandlerExceptionLeavesTheWait)
{
    TestServer server;
    TWSocket c;
    Prepare(c);
    c.OnSessionConnected = [](TCustomWSocket&, std::uint16_t) { throw ESocketException("handler"); };
    Aim(c, server.Port);
    c.Connect();
    EXPECT_EQ(ErrorOf([&] { c.Wait(5, wsConnected); }), "handler");
    if (!GetParam()) {
        EXPECT_FALSE(wait_.Running());
        EXPECT_FALSE(wait_.Visible());
    }
    EXPECT_EQ(c.State(), wsConnected);
    // The socket waits normally afterwards.
    c.Close();
    EXPECT_TRUE(c.Wait(1, wsClosed));
    c.OnSessionConnected = nullptr;
    Aim(c, server.Port);
    c.Connect();
    EXPECT_TRUE(c.Wait(5, wsConnected));
}

TEST_P(WaitStyle, ReadLinesEndAtLfAndDropCr)
{
    TestServer server;
    TWSocket c;
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("abc\r\ndef\n");
    std::string line;
    c.ReadLine(5, line);
    EXPECT_EQ(line, "abc");
    c.ReadLine(5, line);
    EXPECT_EQ(line, "def");
    EXPECT_EQ(c.ReadCount(), 9);
}

TEST_P(WaitStyle, OverlongLineIsCutAt254)
{
    TestServer server;
    TWSocket c;
    int tooLong = 0;
    c.OnLineTooLong = [&](TCustomWSocket&) { ++tooLong; };
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += static_cast<char>('a' + i % 26);
    peer->SendText(text + "\n");
    std::string line;
    c.ReadLine(5, line);
    EXPECT_EQ(line, text.substr(0, 254));
    EXPECT_EQ(tooLong, 1);
    c.ReadLine(5, line);
    EXPECT_EQ(line, text.substr(254));
    EXPECT_EQ(tooLong, 1);
}

TEST_P(WaitStyle, CloseWithoutLfEndsTheLineAndClosesTheSocket)
{
    TestServer server;
    TWSocket c;
    int closed = 0;
    c.OnSessionClosed = [&](TCustomWSocket&, std::uint16_t) { ++closed; };
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("xyz");
    peer->Close();
    std::string line;
    const ULONGLONG start = GetTickCount64();
    c.ReadLine(5, line);
    EXPECT_LT(Elapsed(start), 4000u);
    EXPECT_EQ(line, "xyz");
    EXPECT_EQ(c.State(), wsClosed);
    PumpFor(50);
    EXPECT_EQ(closed, 1);
}

TEST_P(WaitStyle, TimedOutLineGoesOnInTheBackground)
{
    TestServer server;
    TWSocket c;
    std::vector<std::uint8_t> data;
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    CollectInto(c, data);
    peer->SendText("par");
    std::string line;
    const ULONGLONG start = GetTickCount64();
    c.ReadLine(1, line);
    EXPECT_GE(Elapsed(start), 900u);
    EXPECT_EQ(line, "par");
    // The rest of the line goes into the line buffer, what follows the LF
    // to OnDataAvailable.
    peer->SendText("tial\nnext\n");
    ASSERT_TRUE(PumpUntil([&] { return data.size() == 5; }));
    EXPECT_EQ(std::string(data.begin(), data.end()), "next\n");
    // The completed line was nobody's; a new ReadLine starts afresh.
    peer->SendText("last\n");
    c.ReadLine(5, line);
    EXPECT_EQ(line, "last");
}

TEST_P(WaitStyle, FlushDrainsTheQueue)
{
    TestServer server;
    std::vector<std::uint8_t> got;
    server.OnAccepted = [&](TWSocket& s) { CollectInto(s, got); };
    TWSocket c;
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    const auto data = Pattern(16 << 20);
    Watchdog dog(30000, [&] { c.Abort(); });
    c.Send(data.data(), static_cast<int>(data.size()));
    EXPECT_FALSE(c.AllSent());
    c.Flush();
    EXPECT_FALSE(dog.Fired());
    EXPECT_TRUE(c.AllSent());
    EXPECT_TRUE(PumpUntil([&] { return got.size() == data.size(); }, 30000));
    EXPECT_TRUE(got == data);
}

TEST_P(WaitStyle, WaitUntilClosedServesDataThenReturns)
{
    TestServer server;
    TWSocket c;
    std::vector<std::uint8_t> got;
    TWSocket* peer = ConnectPair(server, c);
    ASSERT_NE(peer, nullptr);
    CollectInto(c, got);
    const auto data = Pattern(100000);
    peer->Send(data.data(), static_cast<int>(data.size()));
    Watchdog closer(300, [&] { peer->Close(); });
    Watchdog dog(10000, [&] { c.Abort(); });
    c.WaitUntilClosed();
    EXPECT_TRUE(closer.Fired());
    EXPECT_FALSE(dog.Fired());
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_TRUE(got == data);
}

INSTANTIATE_TEST_SUITE_P(Styles, WaitStyle, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& style) {
                             return style.param ? "MultiThreaded" : "WaitCtrl";
                         });

TEST(WSocketWait, WithoutWaitControlTheWaitsReport)
{
    TWSocket c;
    EXPECT_EQ(ErrorOf([&] { c.Wait(1, wsConnected); }), "Error 11004 in function TWSocket.Wait\r\nNo Data");
    std::string line = "unchanged";
    EXPECT_EQ(ErrorOf([&] { c.ReadLine(1, line); }), "No wait object assigned");
    EXPECT_EQ(ErrorOf([&] { c.Flush(); }), "No wait object assigned");
    int errors = 0;
    c.OnError = [&](TCustomWSocket&) { ++errors; };
    EXPECT_FALSE(c.Wait(1, wsConnected));
    c.ReadLine(1, line);
    EXPECT_EQ(line, "unchanged");
    c.Flush();
    EXPECT_EQ(errors, 3);
}

TEST(WSocketWait, FlushWithWaitControlGivesUpAfterFlushTimeout)
{
    TestServer server; // its side never reads
    TWait wait(nullptr);
    TWSocket c;
    c.SetWaitCtrl(&wait);
    Aim(c, server.Port);
    c.Connect();
    ASSERT_TRUE(c.Wait(5, wsConnected));
    ASSERT_NE(server.WaitClient(), nullptr);
    const auto data = Pattern(64 << 20);
    c.Send(data.data(), static_cast<int>(data.size()));
    c.FlushTimeout = 1;
    const ULONGLONG start = GetTickCount64();
    c.Flush();
    EXPECT_GE(Elapsed(start), 900u);
    EXPECT_LT(Elapsed(start), 5000u);
    EXPECT_FALSE(c.AllSent()); // not reported; the data stays queued
    EXPECT_FALSE(wait.Running());
    EXPECT_FALSE(wait.Visible());
}

TEST(WSocketWait, PumpMessagesLeavesQuitForTheThreadsLoop)
{
    TWSocket c;
    PostQuitMessage(3);
    c.PumpMessages();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}
