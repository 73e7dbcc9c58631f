#include "HttpBenchClients.h"

#include "BenchWinsock.h"

#include <windows.h>
#include <wininet.h>
#include <winsock.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string_view>
#include <vector>

namespace qmbench {
namespace {

constexpr UINT WmSocket = WM_APP + 1;
constexpr UINT_PTR TimeoutTimer = 1;
constexpr UINT TimeoutMs = 600000;
constexpr int ReadSize = 8191; // the component fills at most 8191 of its 8192 bytes

class BareDownload {
public:
    explicit BareDownload(qm::TStream& Into) : Out(Into) {}
    bool Run(std::uint16_t Port, std::size_t Size);

private:
    static LRESULT CALLBACK WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    bool Connect(std::uint16_t Port, std::size_t Size);
    void ReadAvailable();
    void Consume(const char* Data, std::size_t Len);

    qm::TStream& Out;
    std::vector<char> Buffer = std::vector<char>(ReadSize);
    std::size_t HeadMatched = 0; // bytes of "\r\n\r\n" matched so far
    std::size_t BodyBytes = 0;
    bool Closed = false;
    bool Failed = false;
    qm::bench::WinsockSession Winsock;
    qm::bench::HiddenWindow Window{"QmBareHttpGet", WndProc, this};
    qm::bench::Socket Conn;
};

LRESULT CALLBACK BareDownload::WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* self = reinterpret_cast<BareDownload*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    if (self != nullptr && Msg == WmSocket && WParam == self->Conn.Get()) {
        const WORD event = WSAGETSELECTEVENT(LParam);
        if (WSAGETSELECTERROR(LParam) != 0)
            self->Failed = true;
        else if (event == FD_READ || event == FD_CLOSE)
            self->ReadAvailable();
        if (event == FD_CLOSE)
            self->Closed = true;
        return 0;
    }
    if (self != nullptr && Msg == WM_TIMER && WParam == TimeoutTimer) {
        self->Failed = true;
        return 0;
    }
    return DefWindowProcA(Wnd, Msg, WParam, LParam);
}

// Blocking connect and request, then notifications for the response.
bool BareDownload::Connect(std::uint16_t Port, std::size_t Size)
{
    Conn = qm::bench::Socket(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(Port);
    const std::string request = "GET /" + std::to_string(Size) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    return Conn && connect(Conn.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
           send(Conn.Get(), request.data(), static_cast<int>(request.size()), 0) ==
               static_cast<int>(request.size()) &&
           WSAAsyncSelect(Conn.Get(), Window.Get(), WmSocket, FD_READ | FD_CLOSE) == 0;
}

// The socket component's read loop: read, and read again only while the
// socket says bytes wait.
void BareDownload::ReadAvailable()
{
    for (;;) {
        const int n = recv(Conn.Get(), Buffer.data(), ReadSize, 0);
        if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
            Failed = true;
        if (n <= 0)
            return;
        Consume(Buffer.data(), static_cast<std::size_t>(n));
        u_long waiting = 0;
        if (ioctlsocket(Conn.Get(), static_cast<long>(FIONREAD), &waiting) != 0)
            Failed = true;
        if (Failed || waiting == 0)
            return;
    }
}

void BareDownload::Consume(const char* Data, std::size_t Len)
{
    static constexpr std::string_view HeadEnd = "\r\n\r\n";
    while (HeadMatched < HeadEnd.size() && Len > 0) {
        HeadMatched = *Data == HeadEnd[HeadMatched] ? HeadMatched + 1 : (*Data == '\r' ? 1 : 0);
        ++Data;
        --Len;
    }
    if (Len == 0)
        return;
    if (Out.Write(Data, static_cast<std::int32_t>(Len)) != static_cast<std::int32_t>(Len))
        Failed = true;
    BodyBytes += Len;
}

bool BareDownload::Run(std::uint16_t Port, std::size_t Size)
{
    const HWND wnd = Window.Get();
    if (!Winsock.Started || wnd == nullptr || !Connect(Port, Size) ||
        SetTimer(wnd, TimeoutTimer, TimeoutMs, nullptr) == 0)
        return false;
    // The same pump as Get's wait: dispatch what is queued, then sleep until
    // the next message.
    MSG msg;
    while (!Failed && !Closed) {
        while (!Failed && !Closed && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!Failed && !Closed)
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    KillTimer(wnd, TimeoutTimer);
    return !Failed && BodyBytes == Size;
}

struct InternetCloser {
    void operator()(void* H) const { InternetCloseHandle(H); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

} // namespace

bool BareGet(std::uint16_t Port, std::size_t Size, qm::TStream& Out)
{
    return BareDownload(Out).Run(Port, Size);
}

bool WinInetGet(const std::string& Url, qm::TStream& Out)
{
    const InternetHandle net(InternetOpenA("bench_http", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!net)
        return false;
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI;
    const InternetHandle request(InternetOpenUrlA(net.get(), Url.c_str(), nullptr, 0, flags, 0));
    DWORD status = 0;
    DWORD len = sizeof status;
    if (!request ||
        !HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr) ||
        status != 200)
        return false;
    std::vector<char> buf(8192);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.get(), buf.data(), static_cast<DWORD>(buf.size()), &read))
            return false;
        if (read == 0)
            return true;
        if (Out.Write(buf.data(), static_cast<std::int32_t>(read)) != static_cast<std::int32_t>(read))
            return false;
    }
}

bool SameFiles(const std::string& A, const std::string& B)
{
    std::ifstream a(A, std::ios::binary), b(B, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    while (a && b) {
        a.read(x.data(), static_cast<std::streamsize>(x.size()));
        b.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (a.gcount() != b.gcount() || !std::equal(x.begin(), x.begin() + a.gcount(), y.begin()))
            return false;
    }
    return a.eof() && b.eof();
}

} // namespace qmbench
