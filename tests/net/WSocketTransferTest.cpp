// Bulk data both ways, many connections in a row, a datagram exchange and a
// peer in another process.
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

TEST(WSocketTransfer, SeveralMegabytesEachWayArriveIntact)
{
    constexpr std::size_t size = 6 * 1024 * 1024;
    TestServer server;
    std::vector<std::uint8_t> atServer, atClient;
    server.OnAccepted = [&](TWSocket& s) { CollectInto(s, atServer); };
    TWSocket c;
    CollectInto(c, atClient);
    TWSocket* peer = ConnectTo(server, c);
    ASSERT_NE(peer, nullptr);
    const auto up = Pattern(size, 1), down = Pattern(size, 2);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(c.Send(up.data(), static_cast<int>(size)), static_cast<int>(size));
    EXPECT_EQ(peer->Send(down.data(), static_cast<int>(size)), static_cast<int>(size));
    ASSERT_TRUE(PumpUntil([&] { return atServer.size() >= size && atClient.size() >= size; }, 120000))
        << atServer.size() << " / " << atClient.size();
    const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    std::printf("2 x %zu bytes in %.2f s\n", size, seconds);
    EXPECT_TRUE(atServer == up);
    EXPECT_TRUE(atClient == down);
    EXPECT_TRUE(c.AllSent());
    EXPECT_EQ(c.ReadCount(), static_cast<std::int32_t>(size));
}

TEST(WSocketTransfer, ThousandConnectionsLeakNoHandle)
{
    TestServer server;
    TWSocket c;
    std::vector<std::uint8_t> got;
    bool closed = false;
    c.OnSessionClosed = [&](TCustomWSocket&, std::uint16_t) { closed = true; };
    std::vector<std::uint8_t> bye;
    CollectInto(c, bye);
    const auto data = Pattern(700);
    const auto cycle = [&](std::size_t n) {
        got.clear();
        bye.clear();
        closed = false;
        server.OnAccepted = [&](TWSocket& s) { CollectInto(s, got); };
        TWSocket* peer = ConnectTo(server, c, n);
        if (!peer)
            return ADD_FAILURE() << "connect", false;
        c.Send(data.data(), static_cast<int>(data.size()));
        if (!PumpUntil([&] { return got.size() == data.size(); }))
            return ADD_FAILURE() << "data " << got.size(), false;
        peer->SendText("bye");
        peer->Close(); // the client sees the close
        if (!PumpUntil([&] { return closed; }))
            return ADD_FAILURE() << "close", false;
        server.Clients.back().reset(); // the server side is done with it
        return got == data && bye.size() == 3 && c.State() == wsClosed;
    };
    std::size_t n = 0;
    for (; n < 20; ++n)
        ASSERT_TRUE(cycle(n + 1)) << n;
    const long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (; n < 1000; ++n)
        ASSERT_TRUE(cycle(n + 1)) << n;
    const long after = CountProcessHandles();
    EXPECT_LE(after, before + 2) << before << " -> " << after;
}

TEST(WSocketTransfer, DatagramExchange)
{
    TestServer server("udp");
    ASSERT_EQ(server.Listener.State(), wsConnected);
    std::string got;
    sockaddr_in from{};
    server.Listener.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        char buf[2048];
        int len = sizeof from;
        const int n = s.ReceiveFrom(buf, sizeof buf, reinterpret_cast<sockaddr&>(from), len);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    TWSocket c;
    int connected = 0;
    c.OnSessionConnected = [&](TCustomWSocket&, std::uint16_t e) { connected += e == 0; };
    c.SetProto("udp");
    Aim(c, server.Port);
    c.Connect();
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(c.SendText("datagram one"), 12);
    ASSERT_TRUE(PumpUntil([&] { return got == "datagram one"; }));
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), c.GetLocalPort());
    EXPECT_EQ(server.Listener.ReadCount(), 12);
}

// The peer program: connects to the port it is given and echoes everything
// back until the connection closes.
TEST(WSocketTransfer, EchoThroughAPeerInAnotherProcess)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string peerPath = exe;
    peerPath = peerPath.substr(0, peerPath.find_last_of('\\') + 1) + "net_peer.exe";

    TestServer server;
    std::vector<std::uint8_t> echoed;
    server.OnAccepted = [&](TWSocket& s) { CollectInto(s, echoed); };
    std::string cmd = "\"" + peerPath + "\" echo " + server.Port;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << peerPath;
    TWSocket* peer = server.WaitClient(1, 20000);
    ASSERT_NE(peer, nullptr);
    const auto data = Pattern(1 << 20, 7);
    peer->Send(data.data(), static_cast<int>(data.size()));
    EXPECT_TRUE(PumpUntil([&] { return echoed.size() >= data.size(); }, 60000)) << echoed.size();
    EXPECT_TRUE(echoed == data);
    peer->Close();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
