// Connecting, the notification handling, receiving, the send queue and
// closing of TCustomWSocket.
#include "net/WSocket.h"

#include "ui/Application.h"

namespace qm {
namespace {

constexpr int allOnes = -1;

bool SetIntOption(SOCKET s, int option, int value)
{
    return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

} // namespace

bool TCustomWSocket::SelectEvents(SOCKET Socket, long Events)
{
    return WSAAsyncSelect(Socket, window_.get(), WM_SOCKET_EVENT, Events) == 0;
}

// ---- connecting -------------------------------------------------------

void TCustomWSocket::Connect()
{
    if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        RaiseError("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        RaiseError("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        RaiseError("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        RaiseError("Connect: No Protocol Specified");
        return;
    }
    hSocket_ = socket(AF_INET, sockType_, proto_);
    if (hSocket_ == INVALID_SOCKET) {
        ReportSocketError("Connect (socket)");
        return;
    }
    closeEventFired_ = false; // set when a close handler connects again
    const auto alive = Alive();
    SetSocketState(wsOpened);
    if (!alive || !SetSocketOptions())
        return;
    if (!SelectEvents(hSocket_, ConnectEvents)) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    if (sockType_ == SOCK_DGRAM) {
        // No connect call: every send goes to the peer address with sendto.
        SetSocketState(wsConnected);
        if (alive)
            DoSessionConnected(0);
        return;
    }
    if (connect(hSocket_, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) == 0 ||
        WSAGetLastError() == WSAEWOULDBLOCK) {
        // The outcome arrives as FD_CONNECT.
        SetSocketState(wsConnecting);
        return;
    }
    lastError_ = WSAGetLastError();
    ReportSocketError("Connect");
}

// Datagram: a local port of its own, and broadcast when the peer is all
// ones. Stream: closing resets at once (linger 0), keep-alive, address reuse.
// False when a failure was reported and Connect has to stop.
bool TCustomWSocket::SetSocketOptions()
{
    if (sockType_ == SOCK_DGRAM) {
        BindLocalAnyPort();
        if (sin_.sin_addr.s_addr == INADDR_BROADCAST && !SetIntOption(hSocket_, SO_BROADCAST, 1)) {
            ReportSocketError("setsockopt(SO_BROADCAST)");
            return false;
        }
        return true;
    }
    const linger hardClose{1, 0};
    if (setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hardClose), sizeof hardClose) !=
        0) {
        ReportSocketError("setsockopt(SO_LINGER)");
        return false;
    }
    if (!SetIntOption(hSocket_, SO_KEEPALIVE, allOnes)) {
        ReportSocketError("setsockopt(SO_KEEPALIVE)");
        return false;
    }
    if (!SetIntOption(hSocket_, SO_REUSEADDR, allOnes)) {
        ReportSocketError("setsockopt(SO_REUSEADDR)");
        return false;
    }
    return true;
}

void TCustomWSocket::BindLocalAnyPort()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (bind(hSocket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        RaiseErrorFmt("winsock.bind failed, error #%d", WSAGetLastError());
        return;
    }
    int len = sizeof local;
    if (getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        RaiseErrorFmt("winsock.getsockname failed, error #%d", WSAGetLastError());
        return;
    }
    localPortNum_ = ntohs(local.sin_port);
}

// ---- notifications ----------------------------------------------------

void TCustomWSocket::HandleSelectNotification(WPARAM WParam, LPARAM LParam)
{
    if (hSocket_ == INVALID_SOCKET || static_cast<SOCKET>(WParam) != hSocket_ || paused_)
        return;
    const auto events = WSAGETSELECTEVENT(LParam);
    const auto error = static_cast<std::uint16_t>(WSAGETSELECTERROR(LParam));
    // After a handler closed the socket the rest of the notification belongs
    // to a connection that is gone (its close event has been raised); after
    // one destroyed the component nothing of it may be touched.
    const auto alive = Alive();
    const std::uint32_t connection = releasedHandles_;
    const auto closedByHandler = [&] { return releasedHandles_ != connection; };
    if (events & FD_CONNECT) {
        SetSocketState(wsConnected);
        if (!alive)
            return;
        DoSessionConnected(error);
        if (!alive || closedByHandler())
            return;
        if (error != 0 && state_ != wsClosed)
            Close();
        if (!alive)
            return;
    }
    if (events & FD_READ) {
        DeliverReceivedData(error);
        if (!alive)
            return;
    }
    if (events & FD_WRITE) {
        TryToSend();
        // Also right after a connect: nothing queued means all sent.
        if (alive && allSent_ && OnDataSent)
            DoDataSent(error);
        if (!alive)
            return;
    }
    if (events & FD_ACCEPT) {
        DoSessionAvailable(error);
        if (!alive)
            return;
    }
    // A refused connect is reported by FD_CONNECT alone.
    if ((events & FD_CLOSE) && state_ != wsConnecting && !closedByHandler()) {
        DeliverReceivedData(error);
        if (!alive || closedByHandler())
            return;
        if (readLineActive_) {
            readLineActive_ = false;
            StopWaitCountdown();
        }
        if (OnSessionClosed && !closeEventFired_) {
            closeEventFired_ = true;
            DoSessionClosed(error);
            if (!alive)
                return;
        }
        if (state_ != wsClosed && !closedByHandler())
            Close();
    }
}

// Calls the reader again and again while bytes wait in the socket. A pass
// that reads nothing ends the loop: data stays queued for the next
// notification instead of spinning here for ever.
void TCustomWSocket::DeliverReceivedData(std::uint16_t Error)
{
    const auto alive = Alive();
    for (;;) {
        lastError_ = 0;
        const std::int32_t readBefore = readCount_;
        try {
            if (readLineActive_)
                ContinueReadLine();
            else if (!DoDataAvailable(Error))
                return; // nobody reads: the data stays in the socket (and
                        // Wine, unlike Windows, holds FD_CLOSE back until it
                        // has been read)
        } catch (...) {
            return; // a failing reader ends this delivery, not the dispatch
        }
        if (!alive || lastError_ != 0 || readCount_ == readBefore || hSocket_ == INVALID_SOCKET)
            return;
        u_long waiting;
        if (!BytesWaiting(waiting)) {
            lastError_ = WSAGetLastError();
            return;
        }
        if (waiting == 0)
            return;
    }
}

// ---- receiving --------------------------------------------------------

int TCustomWSocket::Receive(void* Buffer, int Size)
{
    return CountReceived(recv(hSocket_, static_cast<char*>(Buffer), Size, 0));
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int Size, sockaddr& From, int& FromLen)
{
    return CountReceived(recvfrom(hSocket_, static_cast<char*>(Buffer), Size, 0, &From, &FromLen));
}

int TCustomWSocket::CountReceived(int Result)
{
    if (Result < 0)
        lastError_ = WSAGetLastError();
    else // a 32-bit count that wraps after 2 GB instead of overflowing
        readCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(readCount_) + static_cast<std::uint32_t>(Result));
    return Result;
}

// ---- sending ----------------------------------------------------------

int TCustomWSocket::Send(const void* Data, int Len)
{
    if (state_ != wsConnected) {
        WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    allSent_ = false;
    int result = 0;
    if (Len > 0) {
        sendQueue_.Append(Data, Len);
        result = Len;
    }
    const auto alive = Alive();
    TryToSend(); // may close, and a close handler may destroy the component
    if (alive && allSent_) {
        // OnDataSent must come from the message loop, never from inside Send.
        PostMessageA(window_.get(), WM_SOCKET_EVENT, static_cast<WPARAM>(hSocket_), WSAMAKESELECTREPLY(FD_WRITE, 0));
    }
    return result;
}

int TCustomWSocket::SendText(std::string_view Text)
{
    return Send(Text.data(), static_cast<int>(Text.size()));
}

// Sends from the oldest chunk on until the queue is empty or the socket would
// block; the next FD_WRITE resumes.
void TCustomWSocket::TryToSend()
{
    if (hSocket_ == INVALID_SOCKET)
        return;
    for (;;) {
        const auto bytes = sendQueue_.Front();
        if (bytes.empty()) {
            allSent_ = true;
            return;
        }
        const auto* data = reinterpret_cast<const char*>(bytes.data());
        const int count = static_cast<int>(bytes.size());
        const int n = sockType_ == SOCK_DGRAM
                          ? sendto(hSocket_, data, count, sendFlags_, reinterpret_cast<const sockaddr*>(&sin_),
                                   sizeof sin_)
                          : send(hSocket_, data, count, sendFlags_);
        if (n == 0)
            return;
        if (n < 0) {
            switch (WSAGetLastError()) {
            case WSAECONNRESET:
            case WSAENOTSOCK:
            case WSAENOTCONN:
            case WSAEINVAL:
                Close();
                return;
            case WSAEWOULDBLOCK:
                return;
            default:
                ReportSocketError("TryToSend failed");
                return;
            }
        }
        // Also after a partial send: it does not re-arm FD_WRITE, only a send
        // that fails with "would block" does, so go on until one does.
        sendQueue_.Remove(n);
    }
}

// ---- closing ----------------------------------------------------------

void TCustomWSocket::Close()
{
    CloseConnection(true);
}

void TCustomWSocket::Abort()
{
    CloseConnection(false);
}

void TCustomWSocket::Shutdown(int How)
{
    if (hSocket_ != INVALID_SOCKET)
        shutdown(hSocket_, How);
}

void TCustomWSocket::CloseConnection(bool Graceful)
{
    if (hSocket_ == INVALID_SOCKET) {
        if (state_ != wsClosed) {
            SetSocketState(wsClosed);
            ResetDefaults();
        }
        return;
    }
    if (state_ == wsClosed) {
        // A handle opened while closed (a Listen that failed to bind): close
        // it quietly rather than leak it.
        closesocket(hSocket_);
        ReleaseHandle();
        return;
    }
    if (Graceful)
        Shutdown(2);
    if (!CloseHandleOnce())
        return;
    const auto alive = Alive();
    SetSocketState(wsClosed);
    if (alive && !destroying_ && !closeEventFired_ && OnSessionClosed) {
        closeEventFired_ = true;
        DoSessionClosed(0);
    }
    if (!alive)
        return;
    // A handler that connected again owns the new handle and settings.
    if (hSocket_ == INVALID_SOCKET)
        ResetDefaults();
}

// closesocket, retried while it would block (messages keep flowing
// meanwhile). False after a failure, which has been reported.
bool TCustomWSocket::CloseHandleOnce()
{
    while (closesocket(hSocket_) != 0) {
        const int code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK) {
            PumpWhileClosing();
            continue;
        }
        ReleaseHandle();
        lastError_ = code;
        WSASetLastError(code);
        ReportSocketError("Disconnect (closesocket)");
        return false;
    }
    ReleaseHandle();
    return true;
}

void TCustomWSocket::PumpWhileClosing()
{
    if (MultiThreaded)
        PumpMessages();
    else
        ui::Application().ProcessMessages();
}

// The handle is gone: notifications still queued for it are stale (and the
// handle value may come back from the next socket call), and bytes still
// queued for sending belong to the old connection.
void TCustomWSocket::ReleaseHandle()
{
    hSocket_ = INVALID_SOCKET;
    ++releasedHandles_;
    MSG stale;
    while (window_ && PeekMessageA(&stale, window_.get(), WM_SOCKET_EVENT, WM_SOCKET_EVENT, PM_REMOVE)) {
    }
    sendQueue_.Clear();
    allSent_ = true;
}

} // namespace qm
