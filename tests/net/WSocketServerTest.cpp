// The server side: Listen, Accept, Dup, Pause and Resume, with their
// failure reports.
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

std::vector<std::string>* RecordStates(TWSocket& s, std::vector<std::string>& log)
{
    s.OnChangeState = [&log](TCustomWSocket&, TSocketState o, TSocketState n) {
        log.push_back(std::string(SocketStateName(o)) + ">" + SocketStateName(n));
    };
    s.OnSessionConnected = [&log](TCustomWSocket&, std::uint16_t e) { log.push_back("connected " + std::to_string(e)); };
    return &log;
}

// A listener that keeps the accepted handles instead of adopting them.
struct RawListener {
    RawListener()
    {
        Socket.SetAddr("127.0.0.1");
        Socket.SetPort("0");
        Socket.OnSessionAvailable = [this](TCustomWSocket& s, std::uint16_t) { Accepted.push_back(s.Accept()); };
        EXPECT_EQ(Socket.Listen(), 0);
        Port = Socket.GetLocalPort();
    }
    ~RawListener()
    {
        for (SOCKET h : Accepted)
            if (h != INVALID_SOCKET)
                closesocket(h);
    }
    // Takes the next accepted handle (the caller now owns it).
    SOCKET Take(std::size_t Count)
    {
        if (!PumpUntil([&] { return Accepted.size() >= Count; }))
            return INVALID_SOCKET;
        return std::exchange(Accepted[Count - 1], INVALID_SOCKET);
    }
    TWSocket Socket;
    std::string Port;
    std::vector<SOCKET> Accepted;
};

} // namespace

TEST(WSocketServer, ListenStatesForStreamAndDatagram)
{
    std::vector<std::string> log;
    TWSocket stream;
    RecordStates(stream, log);
    stream.SetAddr("127.0.0.1");
    stream.SetPort("0");
    EXPECT_EQ(stream.Listen(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"wsClosed>wsBound", "wsBound>wsListening"}));
    EXPECT_NE(stream.GetLocalPort(), "error");
    EXPECT_NE(stream.GetLocalPort(), "0");

    log.clear();
    TWSocket datagram;
    RecordStates(datagram, log);
    datagram.SetProto("udp");
    datagram.SetAddr("127.0.0.1");
    datagram.SetPort("0");
    EXPECT_EQ(datagram.Listen(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"wsClosed>wsBound", "wsBound>wsListening", "wsListening>wsConnected",
                                             "connected 0"}));
}

TEST(WSocketServer, ListenReportsWhatIsNotAssigned)
{
    TWSocket s;
    int errors = 0;
    EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.OnError = [&](TCustomWSocket&) { ++errors; };
    EXPECT_EQ(s.Listen(), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET); // no socket created
    s.SetPort("0");
    s.SetProto("nosuchproto"); // reported through OnError; protocol unassigned
    EXPECT_EQ(errors, 2);
    s.OnError = nullptr;
    EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    s.SetProto("tcp");
    EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketServer, BindFailureClosesTheNewSocket)
{
    TestServer first;
    TWSocket second;
    second.SetAddr("127.0.0.1");
    second.SetPort(first.Port);
    EXPECT_EQ(ErrorOf([&] { second.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(second.HSocket(), INVALID_SOCKET);
    int errors = 0;
    second.OnError = [&](TCustomWSocket&) { ++errors; };
    second.SetPort(first.Port);
    EXPECT_EQ(second.Listen(), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(second.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(second.State(), wsClosed);
}

TEST(WSocketServer, AcceptOnlyOnAListeningSocket)
{
    TWSocket s;
    EXPECT_EQ(ErrorOf([&] { s.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
    int errors = 0;
    s.OnError = [&](TCustomWSocket&) { ++errors; };
    EXPECT_EQ(s.Accept(), INVALID_SOCKET);
    EXPECT_EQ(errors, 1);
}

TEST(WSocketServer, DupRejectsAnInvalidHandle)
{
    TWSocket s;
    EXPECT_EQ(ErrorOf([&] { s.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(ErrorOf([&] { s.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketServer, DupReplacesTheConnectionWithoutConnectedEvent)
{
    RawListener listener;
    TWSocket a, b;
    Aim(a, listener.Port);
    Aim(b, listener.Port);
    a.Connect();
    b.Connect();
    const SOCKET first = listener.Take(1);
    const SOCKET second = listener.Take(2);
    ASSERT_NE(first, INVALID_SOCKET);
    ASSERT_NE(second, INVALID_SOCKET);
    ASSERT_TRUE(PumpUntil([&] { return a.State() == wsConnected && b.State() == wsConnected; }));

    TWSocket adopter;
    std::vector<std::string> log;
    RecordStates(adopter, log);
    adopter.Dup(first);
    EXPECT_EQ(log, std::vector<std::string>{"wsClosed>wsConnected"});
    log.clear();
    adopter.Dup(second);
    EXPECT_EQ(log, (std::vector<std::string>{"wsConnected>wsClosed", "wsClosed>wsConnected"}));
    // The adopted handle carries b's connection; a's was closed.
    std::vector<std::uint8_t> got;
    CollectInto(adopter, got);
    b.SendText("to the second");
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 13; }));
    EXPECT_TRUE(PumpUntil([&] { return a.State() == wsClosed; }));
    PumpFor(50);
    EXPECT_EQ(std::count(log.begin(), log.end(), "connected 0"), 0);
}

TEST(WSocketServer, PauseHoldsNotificationsAndResumeArmsThemAgain)
{
    TestServer server;
    TWSocket c;
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    std::vector<std::uint8_t> got;
    CollectInto(c, got);
    EXPECT_EQ(c.Pause(), 0);
    peer->SendText("while paused");
    PumpFor(200);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(c.Resume(), 0);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 12; }));
    peer->SendText("!");
    EXPECT_TRUE(PumpUntil([&] { return got.size() == 13; }));
}

TEST(WSocketServer, ResumeOnAListenerArmsNoAccept)
{
    RawListener listener;
    EXPECT_EQ(listener.Socket.Pause(), 0);
    EXPECT_EQ(listener.Socket.Resume(), 0);
    TWSocket c;
    Aim(c, listener.Port);
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    PumpFor(200);
    EXPECT_TRUE(listener.Accepted.empty());
}
