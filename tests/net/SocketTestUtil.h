// Helpers of the socket tests: a bounded message loop, a listening
// TWSocket on 127.0.0.1 that adopts every connection into a server-side
// TWSocket, and byte patterns.
#pragma once

#include "net/WSocket.h"
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm::test {

// Dispatches the thread's messages until Done() holds or TimeoutMs pass;
// false on time-out, so a fault fails the test instead of hanging it.
inline bool PumpUntil(const std::function<bool()>& Done, unsigned TimeoutMs = 5000)
{
    const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
    while (!Done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        ui::Application().ProcessMessages();
        if (!Done())
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

// Dispatches messages for Ms milliseconds.
inline void PumpFor(unsigned Ms)
{
    PumpUntil([] { return false; }, Ms);
}

inline std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1)
{
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761U + 1;
    for (auto& b : v) {
        x = x * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

// The number of handles the process holds, from the system's handle list
// (GetProcessHandleCount is not available everywhere); -1 on failure.
inline long CountProcessHandles()
{
    struct Entry {
        PVOID Object;
        ULONG_PTR UniqueProcessId;
        ULONG_PTR HandleValue;
        ULONG GrantedAccess;
        USHORT CreatorBackTraceIndex;
        USHORT ObjectTypeIndex;
        ULONG HandleAttributes;
        ULONG Reserved;
    };
    struct Info {
        ULONG_PTR Count;
        ULONG_PTR Reserved;
        Entry Handles[1];
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG systemExtendedHandleInformation = 64;
    constexpr auto infoLengthMismatch = static_cast<LONG>(0xC0000004UL);
    if (!query)
        return -1;
    std::vector<ULONG_PTR> buf(1 << 16);
    for (;;) {
        ULONG len = 0;
        const auto bytes = static_cast<ULONG>(buf.size() * sizeof(ULONG_PTR));
        const LONG status = query(systemExtendedHandleInformation, buf.data(), bytes, &len);
        if (status == infoLengthMismatch && buf.size() < (1U << 26)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        break;
    }
    const auto* info = reinterpret_cast<const Info*>(buf.data());
    long count = 0;
    for (ULONG_PTR i = 0; i < info->Count; ++i)
        count += info->Handles[i].UniqueProcessId == GetCurrentProcessId();
    return count;
}

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline std::string FreePort()
{
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    EXPECT_EQ(probe.Listen(), 0);
    std::string port = probe.GetLocalPort();
    probe.Close();
    return port;
}

// Reads everything waiting into Sink on every OnDataAvailable.
inline void CollectInto(TWSocket& Socket, std::vector<std::uint8_t>& Sink)
{
    Socket.OnDataAvailable = [&Sink](TCustomWSocket& s, std::uint16_t) {
        std::uint8_t buf[65536];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            Sink.insert(Sink.end(), buf, buf + n);
    };
}

// Listens on 127.0.0.1 (a free port) and adopts each accepted connection
// into a new server-side TWSocket, prepared by OnAccepted before Dup.
class TestServer {
public:
    TestServer(const std::string& Proto = "tcp")
    {
        Listener.SetProto(Proto);
        Listener.SetAddr("127.0.0.1");
        Listener.SetPort("0");
        Listener.OnSessionAvailable = [this](TCustomWSocket& s, std::uint16_t) {
            const SOCKET h = s.Accept();
            if (h == INVALID_SOCKET)
                return;
            Clients.push_back(std::make_unique<TWSocket>());
            if (OnAccepted)
                OnAccepted(*Clients.back());
            Clients.back()->Dup(h);
        };
        EXPECT_EQ(Listener.Listen(), 0);
        Port = Listener.GetLocalPort();
    }

    // The latest adopted connection (waits for it up to TimeoutMs).
    TWSocket* WaitClient(std::size_t Count = 1, unsigned TimeoutMs = 5000)
    {
        if (!PumpUntil([&] { return Clients.size() >= Count; }, TimeoutMs))
            return nullptr;
        return Clients[Count - 1].get();
    }

    TWSocket Listener;
    std::string Port;
    std::vector<std::unique_ptr<TWSocket>> Clients;
    std::function<void(TWSocket&)> OnAccepted;
};

// A client socket set up for 127.0.0.1:Port.
inline void Aim(TWSocket& Socket, const std::string& Port)
{
    Socket.SetAddr("127.0.0.1");
    Socket.SetPort(Port);
}

// Connects Client to Server and waits until both ends are connected; the
// server side of the connection (the Count-th adopted one), or null.
inline TWSocket* ConnectTo(TestServer& Server, TWSocket& Client, std::size_t Count = 1)
{
    Aim(Client, Server.Port);
    Client.Connect();
    TWSocket* peer = Server.WaitClient(Count);
    if (!peer || !PumpUntil([&] { return Client.State() == wsConnected; }))
        return nullptr;
    return peer;
}

// The message of the ESocketException that Action raises.
inline std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const ESocketException& e) {
        return e.Message;
    }
    return "(nothing raised)";
}

} // namespace qm::test
