// Small RAII pieces shared by the bare WinSock baselines of the benchmarks:
// a socket handle, a WinSock 1.1 session and a hidden window whose procedure
// finds its owner in GWLP_USERDATA.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <utility>

namespace qm::bench {

class Socket {
public:
    explicit Socket(SOCKET S = INVALID_SOCKET) : Handle(S) {}
    Socket(Socket&& Other) noexcept : Handle(std::exchange(Other.Handle, INVALID_SOCKET)) {}
    Socket& operator=(Socket&& Other) noexcept
    {
        std::swap(Handle, Other.Handle);
        return *this;
    }
    ~Socket()
    {
        if (Handle != INVALID_SOCKET)
            closesocket(Handle);
    }
    SOCKET Get() const { return Handle; }
    SOCKET Release() { return std::exchange(Handle, INVALID_SOCKET); }
    explicit operator bool() const { return Handle != INVALID_SOCKET; }

private:
    SOCKET Handle;
};

class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data;
        Started = WSAStartup(MAKEWORD(1, 1), &data) == 0;
    }
    ~WinsockSession()
    {
        if (Started)
            WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool Started = false;
};

// A socket listening on 127.0.0.1 at a port the system picks; Addr receives
// the address to connect to. An empty Socket when a call failed.
inline Socket ListenOnLoopback(int Backlog, sockaddr_in& Addr)
{
    Socket listener(socket(AF_INET, SOCK_STREAM, 0));
    Addr = sockaddr_in{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = static_cast<int>(sizeof Addr);
    auto* sa = reinterpret_cast<sockaddr*>(&Addr);
    if (!listener || bind(listener.Get(), sa, len) != 0 || listen(listener.Get(), Backlog) != 0 ||
        getsockname(listener.Get(), sa, &len) != 0)
        return Socket();
    return listener;
}

// A window that is never shown, registered under its own class (one living
// window per class name at a time); Owner is kept in GWLP_USERDATA for Proc.
class HiddenWindow {
public:
    HiddenWindow(const char* ClassName, WNDPROC Proc, void* Owner)
        : Instance(GetModuleHandleA(nullptr)), Class(ClassName)
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = Instance;
        wc.lpszClassName = Class;
        Registered = RegisterClassA(&wc) != 0;
        if (!Registered)
            return;
        Handle = CreateWindowExA(0, Class, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 Instance, nullptr);
        if (Handle != nullptr)
            SetWindowLongPtrA(Handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Owner));
    }
    ~HiddenWindow()
    {
        if (Handle != nullptr)
            DestroyWindow(Handle);
        if (Registered)
            UnregisterClassA(Class, Instance);
    }
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;
    HWND Get() const { return Handle; }

private:
    HINSTANCE Instance;
    const char* Class;
    bool Registered = false;
    HWND Handle = nullptr;
};

} // namespace qm::bench
