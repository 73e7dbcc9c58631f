// TWSocket on real loopback sockets: life cycle, connecting, events and
// their order, sending, closing, the property setters and the lookups.
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

namespace {

// Records every event of a socket as text, in order.
struct EventLog {
    explicit EventLog(TWSocket& s)
    {
        s.OnChangeState = [this](TCustomWSocket&, TSocketState o, TSocketState n) {
            Items.push_back(std::string("state ") + SocketStateName(o) + ">" + SocketStateName(n));
        };
        s.OnSessionConnected = [this](TCustomWSocket&, std::uint16_t e) { Items.push_back("connected " + std::to_string(e)); };
        s.OnSessionClosed = [this](TCustomWSocket&, std::uint16_t e) { Items.push_back("closed " + std::to_string(e)); };
        s.OnDataSent = [this](TCustomWSocket&, std::uint16_t e) { Items.push_back("sent " + std::to_string(e)); };
    }
    bool Has(const std::string& item) const { return std::find(Items.begin(), Items.end(), item) != Items.end(); }
    std::vector<std::string> Items;
};

} // namespace

TEST(WSocket, WinsockStartsWithTheFirstAndStopsWithTheLastComponent)
{
    ASSERT_EQ(TCustomWSocket::SocketInstanceCount(), 0);
    {
        TWSocket a;
        EXPECT_TRUE(TCustomWSocket::WinsockStarted());
        {
            TWSocket b;
            EXPECT_EQ(TCustomWSocket::SocketInstanceCount(), 2);
        }
        EXPECT_TRUE(TCustomWSocket::WinsockStarted());
        EXPECT_EQ(a.State(), wsClosed);
        EXPECT_EQ(a.Proto(), "tcp");
        EXPECT_EQ(a.FlushTimeout, 60);
        EXPECT_NE(a.Handle(), nullptr);
        char cls[64] = {};
        GetClassNameA(a.Handle(), cls, sizeof cls);
        EXPECT_STREQ(cls, "XSocketWindowClass");
    }
    EXPECT_EQ(TCustomWSocket::SocketInstanceCount(), 0);
    EXPECT_FALSE(TCustomWSocket::WinsockStarted());
}

TEST(WSocket, RefusedConnectReportsThroughConnectedThenClosed)
{
    TWSocket c;
    EventLog log(c);
    Aim(c, FreePort());
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    const std::vector<std::string> expected = {
        "state wsClosed>wsOpened", "state wsOpened>wsConnecting", "state wsConnecting>wsConnected",
        "connected 10061",         "state wsConnected>wsClosed",  "closed 0",
    };
    PumpFor(100); // nothing more may follow
    EXPECT_EQ(log.Items, expected);
    EXPECT_EQ(c.State(), wsClosed);
}

TEST(WSocket, ConnectFailingAtOnceIsReportedAndLeavesTheSocketToClose)
{
    TWSocket c;
    EventLog log(c);
    c.SetAddr("224.0.0.1"); // a stream connect to a multicast group fails at once
    c.SetPort("80");
    const std::string message = ErrorOf([&] { c.Connect(); });
    EXPECT_EQ(message.rfind("Error " + std::to_string(c.LastError()) + " in function Connect\r\n", 0), 0u)
        << message;
    EXPECT_NE(c.LastError(), 0);
    EXPECT_EQ(c.State(), wsOpened);
    c.Close();
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_EQ(c.HSocket(), INVALID_SOCKET);
}

TEST(WSocket, RcvdCountWithoutSocketReports)
{
    TWSocket c;
    EXPECT_EQ(ErrorOf([&] { c.RcvdCount(); }),
              "Error 10038 in function ioctlSocket\r\nSocket operation on non-socket");
    c.OnError = [](TCustomWSocket&) {};
    EXPECT_EQ(c.RcvdCount(), -1);
}

TEST(WSocket, DataSentFollowsConnectEvenWithNothingSent)
{
    TestServer server;
    TWSocket c;
    EventLog log(c);
    Aim(c, server.Port);
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    const auto connected = std::find(log.Items.begin(), log.Items.end(), "connected 0");
    const auto sent = std::find(log.Items.begin(), log.Items.end(), "sent 0");
    EXPECT_LT(connected, sent);
    EXPECT_EQ(c.GetPeerAddr(), "127.0.0.1");
    EXPECT_NE(c.GetLocalPort(), "error");
}

TEST(WSocket, DataSentComesFromTheLoopNeverFromInsideSend)
{
    TestServer server;
    std::vector<std::uint8_t> got;
    server.OnAccepted = [&](TWSocket& s) { CollectInto(s, got); };
    TWSocket c;
    int sentEvents = 0;
    Aim(c, server.Port);
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    PumpFor(50);
    c.OnDataSent = [&](TCustomWSocket&, std::uint16_t e) {
        EXPECT_EQ(e, 0);
        ++sentEvents;
    };
    const auto data = Pattern(4000);
    EXPECT_EQ(c.Send(data.data(), 4000), 4000);
    EXPECT_EQ(sentEvents, 0);
    ASSERT_TRUE(PumpUntil([&] { return got.size() >= 4000 && sentEvents > 0; }));
    EXPECT_EQ(got, data);
    EXPECT_EQ(sentEvents, 1);
    EXPECT_TRUE(c.AllSent());
    // Length 0 queues nothing and still reports the drained queue.
    EXPECT_EQ(c.Send(nullptr, 0), 0);
    EXPECT_EQ(sentEvents, 1);
    ASSERT_TRUE(PumpUntil([&] { return sentEvents == 2; }));
}

TEST(WSocket, SendWhileNotConnectedRaisesOrCallsOnError)
{
    TWSocket c;
    std::vector<std::string> states;
    c.OnChangeState = [&](TCustomWSocket&, TSocketState o, TSocketState n) {
        states.push_back(std::string(SocketStateName(o)) + ">" + SocketStateName(n));
    };
    EXPECT_EQ(ErrorOf([&] { c.SendText("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(states, std::vector<std::string>{"wsClosed>wsClosed"});
    int errors = 0;
    c.OnError = [&](TCustomWSocket&) { ++errors; };
    EXPECT_EQ(c.SendText("x"), -1);
    EXPECT_EQ(errors, 1);
}

TEST(WSocket, CloseResetsPerConnectionStateAndSecondCloseDoesNothing)
{
    TestServer server;
    TWSocket c;
    EventLog log(c);
    c.FlushTimeout = 5;
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("hello");
    std::vector<std::uint8_t> got;
    CollectInto(c, got);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 5; }));
    EXPECT_EQ(c.ReadCount(), 5);
    c.Close();
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_EQ(c.FlushTimeout, 60);
    EXPECT_EQ(c.ReadCount(), 0);
    EXPECT_EQ(c.Proto(), "tcp");
    EXPECT_EQ(std::count(log.Items.begin(), log.Items.end(), "closed 0"), 1);
    const auto count = log.Items.size();
    c.Close();
    c.Abort();
    EXPECT_EQ(log.Items.size(), count);
    // Reusable, but Port and Addr must be given again.
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Connect: No Port Specified");
    c.SetPort(server.Port);
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Connect: No IP Address Specified");
    c.SetAddr("127.0.0.1");
    c.Connect();
    EXPECT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Connect: Socket already in use");
}

TEST(WSocket, PeerCloseRaisesSessionClosedOnceWithDataDeliveredFirst)
{
    TestServer server;
    TWSocket c;
    EventLog log(c);
    std::vector<std::uint8_t> got;
    c.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        char buf[16];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        log.Items.push_back("data");
    };
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText(std::string(100, 'q'));
    peer->Close();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsClosed; }));
    PumpFor(100);
    EXPECT_EQ(got.size(), 100u);
    EXPECT_EQ(std::count(log.Items.begin(), log.Items.end(), "closed 0"), 1);
    // The data first, then the close event, then the component closes.
    ASSERT_GE(log.Items.size(), 3u);
    EXPECT_EQ(log.Items[log.Items.size() - 3], "data");
    EXPECT_EQ(log.Items[log.Items.size() - 2], "closed 0");
    EXPECT_EQ(log.Items.back(), "state wsConnected>wsClosed");
}

TEST(WSocket, ReaderThatClosesAtTheEndOfTheStreamGetsOneCloseEvent)
{
    TestServer server;
    TWSocket c;
    EventLog log(c);
    // One read per call; the end of the stream (seen while the peer's close
    // is being handled) makes the reader close the socket itself.
    c.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        char buf[16];
        if (s.Receive(buf, sizeof buf) == 0)
            s.Close();
    };
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("abc");
    peer->Close();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsClosed; }));
    PumpFor(200);
    EXPECT_EQ(std::count_if(log.Items.begin(), log.Items.end(),
                            [](const std::string& i) { return i.rfind("closed", 0) == 0; }),
              1);
}

TEST(WSocket, CloseHandlerMayConnectAgain)
{
    TestServer server;
    TWSocket c;
    int closed = 0;
    c.OnSessionClosed = [&](TCustomWSocket& s, std::uint16_t) {
        if (++closed == 1)
            s.Connect(); // Port and Addr are still assigned here
    };
    ASSERT_NE(ConnectTo(server, c), nullptr);
    c.Close();
    EXPECT_NE(c.HSocket(), INVALID_SOCKET);
    ASSERT_NE(server.WaitClient(2), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    // The new connection has a close event of its own.
    c.Close();
    EXPECT_EQ(closed, 2);
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_EQ(c.HSocket(), INVALID_SOCKET);
}

TEST(WSocket, FdCloseWhileConnectingRaisesNothing)
{
    TestServer server;
    TWSocket c;
    EventLog log(c);
    Aim(c, server.Port);
    c.Connect();
    ASSERT_EQ(c.State(), wsConnecting);
    const auto before = log.Items.size();
    SendMessageA(c.Handle(), TCustomWSocket::WM_SOCKET_EVENT, static_cast<WPARAM>(c.HSocket()),
                 WSAMAKESELECTREPLY(FD_CLOSE, 0));
    EXPECT_EQ(log.Items.size(), before);
    EXPECT_EQ(c.State(), wsConnecting);
    // A notification for another handle is ignored whatever it says.
    SendMessageA(c.Handle(), TCustomWSocket::WM_SOCKET_EVENT, static_cast<WPARAM>(c.HSocket() + 4),
                 WSAMAKESELECTREPLY(FD_CONNECT, 0));
    EXPECT_EQ(c.State(), wsConnecting);
    EXPECT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    // Nor does a closed component raise anything for a notification that
    // carries no handle (what Send posts when a failed send closed it).
    c.Close();
    const auto closed = log.Items.size();
    SendMessageA(c.Handle(), TCustomWSocket::WM_SOCKET_EVENT, static_cast<WPARAM>(INVALID_SOCKET),
                 WSAMAKESELECTREPLY(FD_WRITE | FD_CLOSE, 0));
    EXPECT_EQ(log.Items.size(), closed);
}

TEST(WSocket, DataStaysInTheSocketWithoutAReaderAndHandlerExceptionsAreSwallowed)
{
    TestServer server;
    TWSocket c;
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    peer->SendText("0123456789");
    ASSERT_TRUE(PumpUntil([&] { return c.RcvdCount() == 10; }));
    PumpFor(50);
    EXPECT_EQ(c.RcvdCount(), 10);
    int calls = 0;
    c.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        ++calls;
        char b[4];
        s.Receive(b, sizeof b);
        throw std::runtime_error("handler fails");
    };
    // WinSock posts no new FD_READ while nobody reads: more data changes
    // nothing, a recv re-arms the notification.
    peer->SendText("x");
    PumpFor(100);
    EXPECT_EQ(calls, 0);
    char first;
    ASSERT_EQ(c.Receive(&first, 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; })); // nothing escapes
    EXPECT_EQ(c.State(), wsConnected);
}

TEST(WSocket, ExceptionFromAnEventHandlerReachesTheMessageLoopsCaller)
{
    TestServer server;
    TWSocket c;
    c.OnSessionConnected = [](TCustomWSocket&, std::uint16_t) { throw ESocketException("from handler"); };
    Aim(c, server.Port);
    c.Connect();
    std::string caught;
    try {
        PumpUntil([&] { return c.State() == wsConnected && !caught.empty(); });
    } catch (const ESocketException& e) {
        caught = e.Message;
    }
    EXPECT_EQ(caught, "from handler");
    EXPECT_EQ(c.State(), wsConnected);
}

TEST(WSocket, ProtoSetter)
{
    TestServer server("udp");
    TWSocket c;
    c.SetProto("udp");
    Aim(c, server.Port);
    c.Connect();
    EXPECT_EQ(c.State(), wsConnected); // datagram: connected at once
    c.Close();
    for (const char* proto : {"17", " udp "}) {
        c.SetProto(proto);
        Aim(c, server.Port);
        c.Connect();
        EXPECT_EQ(c.State(), wsConnected) << proto;
        c.Close();
    }
    TestServer stream;
    for (const char* proto : {"6", "tcp"}) {
        c.SetProto(proto);
        Aim(c, stream.Port);
        c.Connect();
        EXPECT_EQ(c.State(), wsConnecting) << proto;
        c.Abort();
    }
    c.SetProto("udp");
    c.SetProto(" not found ");
    EXPECT_EQ(c.Proto(), " not found ");
    Aim(c, server.Port);
    c.Connect();
    EXPECT_EQ(c.State(), wsConnected); // still datagram
    EXPECT_EQ(ErrorOf([&] { c.SetProto("tcp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(c.Proto(), "tcp");
    c.Close();
    EXPECT_EQ(ErrorOf([&] { c.SetProto("nosuchproto"); }).rfind("Error ", 0), 0u);
    EXPECT_NE(ErrorOf([&] { c.SetProto("nosuchproto"); })
                  .find(" in function SetProto: Cannot convert protocol 'nosuchproto'\r\n"),
              std::string::npos);
    const std::string longName(32, 'u');
    EXPECT_EQ(ErrorOf([&] { c.SetProto(longName); }),
              "Error 10022 in function SetProto: Cannot convert protocol '" + longName + "'\r\nInvalid argument");
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocket, PortSetter)
{
    TWSocket c;
    c.SetPort("80x");
    EXPECT_EQ(c.PortNumber(), 80);
    c.SetPort(" 8080");
    EXPECT_EQ(c.PortNumber(), 8080);
    c.SetPort("http");
    EXPECT_EQ(c.PortNumber(), 80);
    EXPECT_NE(ErrorOf([&] { c.SetPort("nosuchservice"); })
                  .find(" in function SetPort: Cannot convert port 'nosuchservice'\r\n"),
              std::string::npos);
    const std::string longName(32, 's');
    EXPECT_EQ(ErrorOf([&] { c.SetPort(longName); }),
              "Error 10022 in function SetPort: Cannot convert port '" + longName + "'\r\nInvalid argument");
    int errors = 0;
    c.OnError = [&](TCustomWSocket&) { ++errors; };
    c.SetPort("nosuchservice");
    EXPECT_EQ(errors, 1);
    c.SetAddr("127.0.0.1");
    c.Connect(); // port not assigned after the failed conversion
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(c.State(), wsClosed);
}

TEST(WSocket, AddrSetter)
{
    TWSocket c;
    int errors = 0;
    c.OnError = [&](TCustomWSocket&) { ++errors; };
    c.SetAddr("localhost");
    c.SetAddr("255.255.255.255");
    c.SetProto("udp");
    c.SetPort("9");
    c.Connect(); // broadcast needs SO_BROADCAST, which Connect sets
    EXPECT_EQ(c.State(), wsConnected);
    EXPECT_EQ(errors, 0);
    c.Close();
    // An unknown host raises even with OnError assigned.
    EXPECT_EQ(ErrorOf([&] { c.SetAddr("nosuchhost.invalid"); }),
              "SetAddr: Cannot convert host address 'nosuchhost.invalid'");
    EXPECT_EQ(ErrorOf([&] { c.SetAddr(std::string(256, 'h')); }),
              "SetAddr: Cannot convert host address '" + std::string(256, 'h') + "'");
    c.SetPort("9");
    c.Connect();
    EXPECT_EQ(errors, 1); // "Connect: No IP Address Specified"
    EXPECT_EQ(c.Addr(), std::string(256, 'h'));
}

TEST(WSocket, SettersWhileConnectedStoreTheTextButReport)
{
    TestServer server;
    TWSocket c;
    Aim(c, server.Port);
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
    EXPECT_EQ(ErrorOf([&] { c.SetPort("81"); }), "Cannot change Port if not closed");
    EXPECT_EQ(c.Port(), "81");
    EXPECT_EQ(ErrorOf([&] { c.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(c.Addr(), "10.0.0.1");
    EXPECT_EQ(c.State(), wsConnected);
}

TEST(WSocket, SendFlags)
{
    TWSocket c;
    EXPECT_EQ(c.SendFlags(), wsSendNormal);
    c.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(c.SendFlags(), wsSendUrgent);
    EXPECT_EQ(ErrorOf([&] { c.SetSendFlags(static_cast<TSocketSendFlags>(7)); }), "Invalid SendFlags");
    EXPECT_EQ(c.SendFlags(), wsSendUrgent);
}

TEST(WSocket, FormattedErrorKeepsALongArgumentWhole)
{
    TWSocket c;
    const std::string host(600, 'h');
    EXPECT_EQ(ErrorOf([&] { c.RaiseErrorFmt("%s: can't start DNS lookup, error #%d", host.c_str(), 10022); }),
              host + ": can't start DNS lookup, error #10022");
}

TEST(WSocket, DnsLookup)
{
    TWSocket c;
    std::vector<int> done;
    c.OnDnsLookupDone = [&](TCustomWSocket&, std::uint16_t e) { done.push_back(e); };
    c.DnsLookup("127.000.000.001");
    EXPECT_EQ(done, std::vector<int>{0}); // before DnsLookup returned
    EXPECT_EQ(c.DnsResult(), "127.0.0.1");
    EXPECT_EQ(c.DnsResultList().Count(), 0);

    done.clear();
    c.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(PumpUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(c.DnsResult(), "127.0.0.1");
    ASSERT_GE(c.DnsResultList().Count(), 1);
    EXPECT_EQ(c.DnsResultList()[0], "127.0.0.1");

    // Kept: answered again before DnsLookup returns, until forgotten.
    c.KeepAddresses = true;
    for (const bool kept : {false, true, false}) {
        done.clear();
        c.DnsLookup("localhost");
        EXPECT_EQ(done.empty(), !kept);
        ASSERT_TRUE(PumpUntil([&] { return !done.empty(); }));
        EXPECT_EQ(c.DnsResult(), "127.0.0.1");
        EXPECT_EQ(c.ForgetKeptLookup(), kept);
    }

    done.clear();
    EXPECT_EQ(ErrorOf([&] { c.DnsLookup(""); }), "DNS lookup: invalid host name.");
    int errors = 0;
    c.OnError = [&](TCustomWSocket&) { ++errors; };
    c.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done, std::vector<int>{10022});
}

TEST(WSocket, CancelDnsLookup)
{
    TWSocket c;
    std::vector<int> done;
    c.OnDnsLookupDone = [&](TCustomWSocket&, std::uint16_t e) { done.push_back(e); };
    c.CancelDnsLookup(); // none pending: nothing happens
    EXPECT_TRUE(done.empty());
    c.DnsLookup("localhost");
    c.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{10004});
    PumpFor(300); // a late completion of the cancelled lookup is ignored
    EXPECT_EQ(done, std::vector<int>{10004});
}

TEST(WSocket, NewLookupReplacesAPendingOne)
{
    TWSocket c;
    std::vector<int> done;
    c.OnDnsLookupDone = [&](TCustomWSocket&, std::uint16_t e) { done.push_back(e); };
    c.DnsLookup("nosuchhost.invalid");
    c.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !done.empty(); }));
    PumpFor(300);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(c.DnsResult(), "127.0.0.1");
}

TEST(WSocket, DestroyedWithALookupUnderWay)
{
    for (int i = 0; i < 20; ++i) {
        auto c = std::make_unique<TWSocket>();
        c->DnsLookup("localhost");
        if (i % 2)
            c->CancelDnsLookup();
        c.reset();
    }
    PumpFor(300); // the lookups finish writing into areas still allocated
    TWSocket d;
    std::vector<int> done;
    d.OnDnsLookupDone = [&](TCustomWSocket&, std::uint16_t e) { done.push_back(e); };
    d.DnsLookup("localhost");
    EXPECT_TRUE(PumpUntil([&] { return done == std::vector<int>{0}; }));
}

TEST(WSocket, Timevals)
{
    TWSocket c;
    timeval a{1, 0}, b{1, 0};
    EXPECT_TRUE(c.TimevalIsSet(a));
    EXPECT_TRUE(c.TimevalCompare(a, b, true));
    EXPECT_FALSE(c.TimevalCompare(a, b, false));
    c.TimevalClear(a);
    EXPECT_FALSE(c.TimevalIsSet(a));
    EXPECT_TRUE(c.TimevalCompare(a, b, false));
}
