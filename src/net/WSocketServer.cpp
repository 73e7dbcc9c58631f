// The server side of TCustomWSocket: listening, accepting, adopting an
// accepted handle (Dup), and switching notifications off and on.
#include "net/WSocket.h"

namespace qm {

int TCustomWSocket::Listen()
{
    const auto invalid = [this](const char* name) {
        WSASetLastError(WSAEINVAL);
        ReportSocketError(name);
        return -1;
    };
    if (!portAssigned_)
        return invalid("listen: port not assigned");
    if (!protoAssigned_)
        return invalid("listen: protocol not assigned");
    if (!addrAssigned_)
        return invalid("listen: address not assigned");
    hSocket_ = socket(AF_INET, sockType_, proto_);
    if (hSocket_ == INVALID_SOCKET) {
        ReportSocketError("socket");
        return -1;
    }
    if (bind(hSocket_, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) != 0) {
        // Close before reporting, so that a raised report leaks no handle.
        const int code = WSAGetLastError();
        Close();
        WSASetLastError(code);
        ReportSocketError("Bind");
        return -1;
    }
    // Each state change is an event whose handler may destroy the component.
    const auto alive = Alive();
    SetSocketState(wsBound);
    if (!alive)
        return -1;
    if (sockType_ == SOCK_DGRAM) {
        SetSocketState(wsListening);
        if (alive)
            SetSocketState(wsConnected);
        if (alive)
            DoSessionConnected(0);
    } else {
        if (listen(hSocket_, 5) != 0) {
            ReportSocketError("Listen");
            return -1;
        }
        SetSocketState(wsListening);
    }
    if (!alive)
        return -1;
    if (!SelectEvents(hSocket_, ListenEvents)) {
        ReportSocketError("WSAASyncSelect");
        return -1;
    }
    return 0;
}

SOCKET TCustomWSocket::Accept()
{
    if (state_ != wsListening) {
        WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    // The accepted peer's address replaces the stored one.
    int len = sizeof sin_;
    acceptedHSocket_ = accept(hSocket_, reinterpret_cast<sockaddr*>(&sin_), &len);
    if (acceptedHSocket_ == INVALID_SOCKET) {
        ReportSocketError("Accept");
        return INVALID_SOCKET;
    }
    return acceptedHSocket_;
}

void TCustomWSocket::Dup(SOCKET NewHSocket)
{
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        WSASetLastError(WSAEINVAL);
        ReportSocketError("Dup");
        return;
    }
    if (hSocket_ != INVALID_SOCKET && state_ == wsClosed) {
        closesocket(hSocket_); // left open while closed: nobody else will close it
        ReleaseHandle();
    }
    if (state_ != wsClosed) {
        const bool closed = hSocket_ == INVALID_SOCKET || closesocket(hSocket_) == 0;
        const int code = WSAGetLastError();
        ReleaseHandle();
        if (!closed) {
            WSASetLastError(code);
            ReportSocketError("Dup (closesocket)");
            return;
        }
        const auto alive = Alive();
        SetSocketState(wsClosed);
        if (!alive) {
            closesocket(NewHSocket); // nobody is left to adopt it
            return;
        }
    }
    hSocket_ = NewHSocket;
    closeEventFired_ = false; // a new connection gets its own close event
    if (!SelectEvents(hSocket_, DataEvents)) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    SetSocketState(wsConnected);
}

int TCustomWSocket::Pause()
{
    paused_ = true;
    return WSAAsyncSelect(hSocket_, window_.get(), 0, 0);
}

int TCustomWSocket::Resume()
{
    paused_ = false;
    return WSAAsyncSelect(hSocket_, window_.get(), WM_SOCKET_EVENT, DataEvents);
}

} // namespace qm
