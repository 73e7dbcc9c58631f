// Life cycle, hidden window, WinSock start-up, error reporting, state changes
// and the property setters and queries of TCustomWSocket.
#include "net/WSocket.h"

#include "base/Events.h"
#include "net/WSocketErrors.h"
#include "net/WSocketText.h"
#include "net/Wait.h"
#include "ui/Application.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qm {
namespace {

constexpr char windowClassName[] = "XSocketWindowClass";
constexpr char winsockLibName[] = "wsock32.dll";
// Conversion areas of the setters: longer names are conversion errors.
constexpr std::size_t maxHostName = 255;
constexpr std::size_t maxServiceName = 31;

// Process-wide: the first component starts WinSock, the last one destroyed
// cleans it up. Plain variables: components live on one thread.
bool winsockStarted = false;
int socketInstanceCount = 0;

bool StartsWithDigit(const std::string& s)
{
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Raised directly: an unknown host is not an error OnError can take over.
[[noreturn]] void RaiseHostNotConverted(const std::string& Value)
{
    throw ESocketException("SetAddr: Cannot convert host address '" + Value + "'");
}

// The IPv4 address (network order) for a dotted address or a host name.
u_long ResolveHostAddress(const std::string& Value)
{
    const std::string name = TrimText(Value);
    if (name.size() > maxHostName)
        RaiseHostNotConverted(Value);
    EnsureWinsockStarted(winsockLibName);
    const u_long addr = inet_addr(name.c_str());
    if (addr != INADDR_NONE || name == "255.255.255.255")
        return addr;
    const hostent* host = gethostbyname(name.c_str());
    if (!host || !host->h_addr_list || !host->h_addr_list[0])
        RaiseHostNotConverted(Value);
    u_long first;
    std::memcpy(&first, host->h_addr_list[0], sizeof first);
    return first;
}

// Runs a blocking WinSock database lookup, or fails it with WSAEINVAL when a
// name is too long to pass on whole.
template <class Lookup>
auto LookupByName(bool NamesFit, Lookup lookup) -> decltype(lookup())
{
    if (!NamesFit) {
        WSASetLastError(WSAEINVAL);
        return nullptr;
    }
    EnsureWinsockStarted(winsockLibName);
    return lookup();
}

} // namespace

bool EnsureWinsockStarted(const char* LibName)
{
    if (winsockStarted)
        return true;
    WSADATA data;
    if (const int rc = WSAStartup(0x0101, &data); rc != 0) {
        char msg[128];
        std::snprintf(msg, sizeof msg, "%s: WSAStartup error #%d", LibName, rc);
        throw ESocketException(msg);
    }
    winsockStarted = true;
    return true;
}

bool TCustomWSocket::WinsockStarted()
{
    return winsockStarted;
}

int TCustomWSocket::SocketInstanceCount()
{
    return socketInstanceCount;
}

TCustomWSocket::TCustomWSocket()
{
    CreateSocketWindow();
    ResetDefaults();
    ++socketInstanceCount;
    try {
        EnsureWinsockStarted(winsockLibName);
    } catch (...) {
        --socketInstanceCount;
        throw;
    }
}

TCustomWSocket::~TCustomWSocket()
{
    *alive_ = false;
    destroying_ = true;
    SetWaitCtrl(nullptr);
    // The closing below raises no event: the handlers' targets (often the
    // owner, or locals declared after this component) may be gone already.
    OnSessionAvailable = nullptr;
    OnSessionConnected = nullptr;
    OnSessionClosed = nullptr;
    OnChangeState = nullptr;
    OnDataAvailable = nullptr;
    OnDataSent = nullptr;
    OnLineTooLong = nullptr;
    OnDnsLookupDone = nullptr;
    OnError = nullptr;
    // Nothing may leave a destructor; a failing close has nobody to tell.
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (state_ != wsClosed || hSocket_ != INVALID_SOCKET)
            Close();
    } catch (...) {
    }
    if (hSocket_ != INVALID_SOCKET)
        closesocket(hSocket_);
    // A lookup that may still write into its area outlives the component:
    // the area is left allocated rather than written after being freed.
    if (lookupHandle_)
        static_cast<void>(lookup_.release());
    for (auto& abandoned : abandonedLookups_)
        static_cast<void>(abandoned.second.release());
    if (--socketInstanceCount <= 0 && winsockStarted) {
        WSACleanup();
        winsockStarted = false;
        socketInstanceCount = 0;
    }
}

void TCustomWSocket::CreateSocketWindow()
{
    try {
        window_ = ui::CreateOwnedWindow(*this, {.Name = windowClassName},
                                        {.ExStyle = WS_EX_TOOLWINDOW, .Style = WS_POPUP});
    } catch (const Exception&) {
        // No window: the first WSAAsyncSelect reports it.
    }
}

// Exceptions leaving the handlers are parked by the window helper.
LRESULT TCustomWSocket::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_SOCKET_EVENT)
        HandleSelectNotification(WParam, LParam);
    else if (Msg == WM_SOCKET_LOOKUP)
        HandleLookupNotification(WParam, LParam);
    else
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    return 0;
}

void TCustomWSocket::ResetDefaults()
{
    sin_ = sockaddr_in{};
    sin_.sin_family = AF_INET;
    portAssigned_ = false;
    addrAssigned_ = false;
    protoAssigned_ = true;
    proto_ = IPPROTO_TCP;
    protoStr_ = "tcp";
    sockType_ = SOCK_STREAM;
    hSocket_ = INVALID_SOCKET;
    state_ = wsClosed;
    awaitedState_ = wsInvalidState;
    allSent_ = true;
    readLineActive_ = false; // the collected text stays for ReadLine to return
    paused_ = false;
    readCount_ = 0;
    closeEventFired_ = false;
    FlushTimeout = DefaultFlushTimeout;
}

void TCustomWSocket::SetWaitCtrl(TWait* Ctrl)
{
    if (Ctrl == waitCtrl_)
        return;
    if (waitCtrl_)
        waitCtrl_->RemoveFreeNotification(this);
    waitCtrl_ = Ctrl;
    if (Ctrl)
        Ctrl->FreeNotification(this, [this, Ctrl] { WaitCtrlRemoved(Ctrl); });
}

void TCustomWSocket::WaitCtrlRemoved(const TWait* Ctrl)
{
    if (Ctrl && Ctrl == waitCtrl_)
        waitCtrl_ = nullptr;
}

// ---- error reporting --------------------------------------------------

void TCustomWSocket::RaiseError(const std::string& Message)
{
    if (OnError)
        DoError();
    else
        throw ESocketException(Message);
}

void TCustomWSocket::RaiseErrorFmt(const char* Format, ...)
{
    // Sized to the formatted text: a long host name must not cut it short.
    va_list args;
    va_start(args, Format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, Format, args);
    va_end(args);
    std::string msg(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(msg.data(), msg.size(), Format, again);
    va_end(again);
    msg.pop_back();
    RaiseError(msg);
}

void TCustomWSocket::ReportSocketError(std::string_view Name)
{
    const int code = WSAGetLastError();
    const std::string message = SocketErrorMessage(code, Name);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (hSocket_ != INVALID_SOCKET)
            closesocket(hSocket_);
        ReleaseHandle();
        const auto alive = Alive();
        SetSocketState(wsClosed);
        if (!alive)
            return; // destroyed by the state-change handler: nobody to report to
    }
    RaiseError(message);
}

// ---- events and state -----------------------------------------------

bool TCustomWSocket::DoDataAvailable(std::uint16_t Error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(*this, Error);
    return true;
}

void TCustomWSocket::DoSessionAvailable(std::uint16_t Error) { Fire(OnSessionAvailable, *this, Error); }
void TCustomWSocket::DoSessionConnected(std::uint16_t Error) { Fire(OnSessionConnected, *this, Error); }
void TCustomWSocket::DoSessionClosed(std::uint16_t Error) { Fire(OnSessionClosed, *this, Error); }
void TCustomWSocket::DoDataSent(std::uint16_t Error) { Fire(OnDataSent, *this, Error); }
void TCustomWSocket::DoDnsLookupDone(std::uint16_t Error) { Fire(OnDnsLookupDone, *this, Error); }
void TCustomWSocket::DoError() { Fire(OnError, *this); }

void TCustomWSocket::DoChangeState(TSocketState OldState, TSocketState NewState)
{
    Fire(OnChangeState, *this, OldState, NewState);
}

void TCustomWSocket::SetSocketState(TSocketState NewState)
{
    const TSocketState old = state_;
    state_ = NewState;
    const auto alive = Alive();
    DoChangeState(old, NewState);
    if (!alive)
        return;
    if (NewState == awaitedState_ || (awaitedState_ == wsConnected && NewState == wsClosed))
        StopWaitCountdown();
}

// ---- properties -------------------------------------------------------

// The steps the setters share: assigning the text they already converted
// does nothing; otherwise the text is stored, and while the socket is not
// closed the change is refused (the text stays stored). True when the
// setter goes on to convert it.
bool TCustomWSocket::StoreSetting(bool Assigned, std::string& Stored, const std::string& Value, const char* Refusal)
{
    if (Assigned && Value == Stored)
        return false;
    Stored = Value;
    if (state_ != wsClosed) {
        RaiseError(Refusal);
        return false;
    }
    return true;
}

void TCustomWSocket::SetProto(const std::string& Value)
{
    if (!StoreSetting(protoAssigned_, protoStr_, Value, "Cannot change Proto if not closed"))
        return;
    const std::string name = TrimText(Value);
    if (name == "not found")
        return;
    protoAssigned_ = true;
    if (StartsWithDigit(name)) {
        proto_ = ParseLeadingNumber(name);
    } else {
        const protoent* entry = LookupByName(name.size() <= maxServiceName,
                                             [&] { return getprotobyname(name.c_str()); });
        if (!entry) {
            protoAssigned_ = false;
            ReportSocketError("SetProto: Cannot convert protocol '" + name + "'");
            return;
        }
        proto_ = entry->p_proto;
    }
    sockType_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
}

void TCustomWSocket::SetPort(const std::string& Value)
{
    if (!StoreSetting(portAssigned_, portStr_, Value, "Cannot change Port if not closed"))
        return;
    portAssigned_ = true;
    const std::string name = TrimText(Value);
    if (StartsWithDigit(name)) {
        sin_.sin_port = htons(static_cast<u_short>(ParseLeadingNumber(name)));
    } else {
        const servent* entry = LookupByName(name.size() <= maxServiceName && protoStr_.size() <= maxServiceName, [&] {
            return getservbyname(name.c_str(), protoStr_.empty() ? nullptr : protoStr_.c_str());
        });
        if (!entry) {
            portAssigned_ = false;
            ReportSocketError("SetPort: Cannot convert port '" + name + "'");
            return;
        }
        sin_.sin_port = static_cast<u_short>(entry->s_port);
    }
    portNum_ = ntohs(sin_.sin_port);
}

void TCustomWSocket::SetAddr(const std::string& Value)
{
    if (!StoreSetting(addrAssigned_, addrStr_, Value, "Cannot change Addr if not closed"))
        return;
    addrAssigned_ = false;
    sin_.sin_addr.s_addr = ResolveHostAddress(Value);
    addrAssigned_ = true;
}

TSocketSendFlags TCustomWSocket::SendFlags()
{
    if (sendFlags_ == 0)
        return wsSendNormal;
    if (sendFlags_ == MSG_OOB)
        return wsSendUrgent;
    RaiseError("Invalid internal SendFlags");
    return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value)
{
    switch (Value) {
    case wsSendNormal:
        sendFlags_ = 0;
        return;
    case wsSendUrgent:
        sendFlags_ = MSG_OOB;
        return;
    }
    RaiseError("Invalid SendFlags");
}

// ---- queries ----------------------------------------------------------

bool TCustomWSocket::BytesWaiting(u_long& Count)
{
    Count = 0;
    return ioctlsocket(hSocket_, static_cast<long>(FIONREAD), &Count) == 0;
}

std::int32_t TCustomWSocket::RcvdCount()
{
    u_long count;
    if (!BytesWaiting(count)) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<std::int32_t>(count);
}

std::string TCustomWSocket::GetPeerAddr()
{
    if (state_ != wsConnected)
        return "error";
    sockaddr_in peer{};
    int len = sizeof peer;
    if (getpeername(hSocket_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
        ReportSocketError("GetPeerName");
        return "error";
    }
    return inet_ntoa(peer.sin_addr);
}

int TCustomWSocket::GetPeerName(sockaddr_in& Address, int Length)
{
    if (state_ != wsConnected)
        return -1;
    return getpeername(hSocket_, reinterpret_cast<sockaddr*>(&Address), &Length);
}

int TCustomWSocket::GetSockName(sockaddr_in& Address, int& Length)
{
    return getsockname(hSocket_, reinterpret_cast<sockaddr*>(&Address), &Length);
}

std::string TCustomWSocket::GetLocalPort()
{
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening)
        return "error";
    sockaddr_in local{};
    int len = sizeof local;
    if (GetSockName(local, len) != 0)
        return "error";
    return std::to_string(ntohs(local.sin_port));
}

bool TCustomWSocket::TimevalIsSet(const timeval& T)
{
    return T.tv_sec != 0 || T.tv_usec != 0;
}

void TCustomWSocket::TimevalClear(timeval& T)
{
    T.tv_sec = 0;
    T.tv_usec = 0;
}

bool TCustomWSocket::TimevalCompare(const timeval& A, const timeval& B, bool Equal)
{
    const bool same = A.tv_sec == B.tv_sec && A.tv_usec == B.tv_usec;
    return Equal ? same : !same;
}

} // namespace qm
