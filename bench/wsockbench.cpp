// Loopback throughput of the socket component: one TWSocket listens on
// 127.0.0.1, another connects, and the client sends a block of bytes that
// the server side reads in OnDataAvailable; both ends run in this thread's
// message loop. Each run also times the same transfer done with bare
// WinSock calls (BareSocketBench.h), in 1514- and 65536-byte sends, as a
// baseline, and the download direction: the bare sender's 65536-byte sends
// read by a TWSocket ("component receive"). Prints MB/s for each.
//
//   wsockbench [megabytes [runs]]     defaults: 64 MB, 3 runs
#include "BareSocketBench.h"
#include "net/WSocket.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using qm::TCustomWSocket;
using qm::TWSocket;

// Dispatches messages until Done() or TimeoutMs; false on time-out.
template <class F>
bool PumpUntil(TWSocket& Any, F Done, ULONGLONG TimeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
    while (!Done()) {
        if (GetTickCount64() >= deadline)
            return false;
        Any.PumpMessages();
        if (!Done())
            MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

// One transfer of Size bytes; the elapsed seconds, or a negative value on
// failure.
double Transfer(std::size_t Size)
{
    TWSocket listener, server, client;
    for (TWSocket* s : {&listener, &server, &client})
        s->MultiThreaded = true;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    bool accepted = false;
    listener.OnSessionAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        server.Dup(s.Accept());
        accepted = true;
    };
    if (listener.Listen() != 0)
        return -1;
    std::size_t received = 0;
    std::vector<char> sink(1 << 16);
    server.OnDataAvailable = [&](TCustomWSocket& s, std::uint16_t) {
        const int n = s.Receive(sink.data(), static_cast<int>(sink.size()));
        if (n > 0)
            received += static_cast<std::size_t>(n);
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(listener.GetLocalPort());
    client.Connect();
    if (!client.Wait(10, qm::wsConnected) || !PumpUntil(client, [&] { return accepted; }, 10000))
        return -1;
    const std::vector<char> data(Size, 'x');
    const ULONGLONG start = GetTickCount64();
    client.Send(data.data(), static_cast<int>(data.size()));
    if (!PumpUntil(client, [&] { return received >= Size; }, 600000))
        return -1;
    return static_cast<double>(GetTickCount64() - start) / 1000.0;
}

// The receiving end of "component receive": a TWSocket that adopts the
// accepted socket and reads whatever arrives into a 64 KiB buffer.
class ComponentReceiver : public qm::bench::Receiver {
public:
    ComponentReceiver()
    {
        Socket.OnDataAvailable = [this](TCustomWSocket& s, std::uint16_t) {
            const int n = s.Receive(Sink.data(), static_cast<int>(Sink.size()));
            if (n > 0)
                Count += static_cast<std::size_t>(n);
        };
    }
    bool Adopt(SOCKET Accepted) override
    {
        Socket.Dup(Accepted);
        return Socket.State() == qm::wsConnected;
    }
    std::size_t Received() const override { return Count; }

private:
    TWSocket Socket;
    std::vector<char> Sink = std::vector<char>(1 << 16);
    std::size_t Count = 0;
};

double ComponentReceive(std::size_t Size)
{
    ComponentReceiver receiver;
    return qm::bench::TransferTo(receiver, Size, 65536);
}

// Prints one figure; false (after saying so) if the transfer failed.
bool Report(const char* Label, long Megabytes, double Seconds)
{
    if (Seconds < 0) {
        std::fprintf(stderr, "%s: transfer failed\n", Label);
        return false;
    }
    std::printf("%s: %ld MB in %.2f s: %.1f MB/s\n", Label, Megabytes, Seconds,
                static_cast<double>(Megabytes) / (Seconds > 0 ? Seconds : 0.001));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 64;
    const long runs = argc > 2 ? std::atol(argv[2]) : 3;
    if (megabytes <= 0 || megabytes > 1024 || runs <= 0) {
        std::fprintf(stderr, "usage: wsockbench [megabytes (1-1024) [runs]]\n");
        return 2;
    }
    const auto size = static_cast<std::size_t>(megabytes) << 20;
    try {
        for (long i = 0; i < runs; ++i) {
            if (!Report("component", megabytes, Transfer(size)) ||
                !Report("bare 1514", megabytes, qm::bench::BareTransfer(size, 1514)) ||
                !Report("bare 65536", megabytes, qm::bench::BareTransfer(size, 65536)) ||
                !Report("component receive", megabytes, ComponentReceive(size)))
                return 1;
        }
    } catch (const qm::Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message.c_str());
        return 1;
    }
    return 0;
}
