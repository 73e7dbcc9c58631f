#include "BareSocketBench.h"
#include "BenchWinsock.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <vector>

namespace qm::bench {
namespace {

constexpr UINT WmReceiver = WM_APP + 1;
constexpr UINT WmSender = WM_APP + 2;
constexpr UINT_PTR TimeoutTimer = 1;
constexpr UINT TimeoutMs = 600000;
constexpr char ClassName[] = "QmBareSocketBench";

class Transfer {
public:
    // Reads with the bare receiver unless External is given.
    Transfer(std::size_t Size, int Piece, Receiver* To = nullptr)
        : Data(Size, 'x'), PieceSize(Piece), External(To)
    {
    }
    double Run();

private:
    static LRESULT CALLBACK WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    bool Connect();
    bool Select();
    void OnReceiver(WORD Event, WORD Error);
    void SendSome();
    bool AllReceived() const { return (External ? External->Received() : Received) >= Data.size(); }

    const std::vector<char> Data;
    const int PieceSize;
    Receiver* const External;
    std::vector<char> Sink = std::vector<char>(1 << 16);
    std::size_t Sent = 0;
    std::size_t Received = 0;
    bool Failed = false;
    WinsockSession Winsock;
    HiddenWindow Window{ClassName, WndProc, this};
    Socket Accepted;
    Socket Sender;
};

LRESULT CALLBACK Transfer::WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* self = reinterpret_cast<Transfer*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    if (self != nullptr) {
        const WORD error = WSAGETSELECTERROR(LParam);
        if (Msg == WmReceiver && WParam == self->Accepted.Get()) {
            self->OnReceiver(WSAGETSELECTEVENT(LParam), error);
            return 0;
        }
        if (Msg == WmSender && WParam == self->Sender.Get()) {
            if (error != 0)
                self->Failed = true;
            else
                self->SendSome();
            return 0;
        }
        if (Msg == WM_TIMER && WParam == TimeoutTimer) {
            self->Failed = true;
            return 0;
        }
    }
    return DefWindowProcA(Wnd, Msg, WParam, LParam);
}

// Blocking set-up outside the timed part: a loopback listener on a free
// port, a connect that completes from the backlog, then the accept.
bool Transfer::Connect()
{
    sockaddr_in addr;
    const Socket listener = ListenOnLoopback(1, addr);
    if (!listener)
        return false;
    Sender = Socket(socket(AF_INET, SOCK_STREAM, 0));
    if (!Sender || connect(Sender.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return false;
    Accepted = Socket(accept(listener.Get(), nullptr, nullptr));
    return static_cast<bool>(Accepted);
}

// Arms the notifications; the accepted socket goes to External if given.
bool Transfer::Select()
{
    const HWND wnd = Window.Get();
    if (WSAAsyncSelect(Sender.Get(), wnd, WmSender, FD_WRITE) != 0)
        return false;
    if (External != nullptr)
        return External->Adopt(Accepted.Release());
    return WSAAsyncSelect(Accepted.Get(), wnd, WmReceiver, FD_READ | FD_CLOSE) == 0;
}

// One recv per FD_READ (WinSock posts another while data remains); on
// FD_CLOSE whatever is left is drained.
void Transfer::OnReceiver(WORD Event, WORD Error)
{
    if (Error != 0) {
        Failed = true;
        return;
    }
    for (;;) {
        const int n = recv(Accepted.Get(), Sink.data(), static_cast<int>(Sink.size()), 0);
        if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            Failed = true;
            return;
        }
        if (n > 0)
            Received += static_cast<std::size_t>(n);
        if (n <= 0 || Event != FD_CLOSE)
            break;
    }
    if (Event == FD_CLOSE && !AllReceived())
        Failed = true;
}

// Sends until done or the socket would block; the next FD_WRITE resumes.
void Transfer::SendSome()
{
    while (Sent < Data.size()) {
        const std::size_t piece = static_cast<std::size_t>(PieceSize);
        const auto len = static_cast<int>(std::min(piece, Data.size() - Sent));
        const int n = send(Sender.Get(), Data.data() + Sent, len, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                Failed = true;
            return;
        }
        Sent += static_cast<std::size_t>(n);
    }
}

double Transfer::Run()
{
    const HWND wnd = Window.Get();
    if (!Winsock.Started || wnd == nullptr || PieceSize <= 0 || !Connect() || !Select() ||
        SetTimer(wnd, TimeoutTimer, TimeoutMs, nullptr) == 0)
        return -1;
    const ULONGLONG start = GetTickCount64();
    SendSome();
    MSG msg;
    while (!Failed && !AllReceived() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    KillTimer(wnd, TimeoutTimer);
    return AllReceived() && !Failed ? static_cast<double>(elapsed) / 1000.0 : -1;
}

} // namespace

double BareTransfer(std::size_t Size, int Piece)
{
    return Transfer(Size, Piece).Run();
}

double TransferTo(Receiver& To, std::size_t Size, int Piece)
{
    return Transfer(Size, Piece, &To).Run();
}

} // namespace qm::bench
