// TWSocket: one Windows Sockets 1.1 socket (IPv4, stream or datagram) that
// never blocks on the network. The socket is put into asynchronous
// notification mode; WinSock posts its readiness to a hidden window the
// component owns, and the window procedure turns each notification into
// events. Everything runs on the thread that created the component.
//
// Call sequence (client):
//   set Proto, Port, Addr while State() is wsClosed (each converts at once),
//   assign the events, Connect(); then Send/SendText and Receive/ReceiveFrom
//   from inside the events; finally Close() (graceful) or Abort().
//   After a close the component is reusable: Port and Addr must be set again
//   (their "assigned" flags were cleared) before the next Connect().
// Server side: Listen(); in OnSessionAvailable call Accept() and hand the
//   returned handle to another component's Dup().
// DnsLookup/CancelDnsLookup at any time; the result arrives in
//   OnDnsLookupDone (before DnsLookup returns for a dotted address).
//
// Failures are reported on three paths:
//  - RaiseError: raises ESocketException, or, when OnError is assigned, only
//    calls OnError and lets the operation go on as documented;
//  - ReportSocketError: builds "Error <code> in function <name>" CR LF
//    <SocketErrorText(code)> from the thread's last WinSock error, closes the
//    handle first for 10054/10057, then takes the RaiseError path;
//  - raised directly whatever OnError holds: a failed WinSock start-up and a
//    host name that Addr cannot convert.
//
// A handler may destroy the component from inside any event: the dispatch
// code takes an Alive() guard before raising an event and touches nothing
// of the component once the guard says it is gone. Components built on the
// socket (the HTTP client) check the same guard after their own events.
//
// Exceptions that escape an event handler called from the window procedure
// are caught there (they must not unwind through DispatchMessageA) and handed
// to ui::ParkDispatchException; the message pump that dispatched the
// notification rethrows them to its caller. OnDataAvailable is the
// exception: the read loop discards what its handler raises.
#pragma once

#include "base/Exception.h"
#include "base/StringList.h"
#include "net/WSockQueue.h"
#include "net/WSocketTypes.h"
#include "ui/ObjectWindow.h"

#include <windows.h>
#include <winsock.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

class TWait;
class TCustomWSocket;

class ESocketException : public Exception {
public:
    using Exception::Exception;
};

// Socket events: Sender and the WinSock error code of the notification.
using TDataAvailable = std::function<void(TCustomWSocket& Sender, std::uint16_t Error)>;
using TDataSent = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionAvailable = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TDnsLookupDone = TDataAvailable;
using TChangeState = std::function<void(TCustomWSocket& Sender, TSocketState OldState, TSocketState NewState)>;

// Tells code that raised an event whether the component survived it. Taken
// before the event; it stays valid after the component is gone.
class TAliveGuard {
public:
    explicit TAliveGuard(std::shared_ptr<const bool> Token) : token_(std::move(Token)) {}
    explicit operator bool() const noexcept { return *token_; }

private:
    std::shared_ptr<const bool> token_;
};

class TCustomWSocket : private ui::TWindowOwner {
public:
    using TNotifyEvent = std::function<void(TCustomWSocket& Sender)>;

    // Private messages of the hidden window.
    static constexpr UINT WM_SOCKET_EVENT = WM_USER + 1;  // wParam socket, lParam event | error << 16
    static constexpr UINT WM_SOCKET_LOOKUP = WM_USER + 2; // wParam task, lParam length | error << 16
    // Event masks armed with WSAAsyncSelect.
    static constexpr long ConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 0x3B
    static constexpr long ListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;               // 0x2B
    static constexpr long DataEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                // 0x33
    static constexpr std::int32_t DefaultChunkSize = 1514;
    static constexpr std::int32_t DefaultFlushTimeout = 60;

    // Starts WinSock when this is the first component of the process.
    TCustomWSocket();
    // Cancels a pending lookup and closes the socket without raising any
    // event (the handlers' targets may be gone); the last component cleans
    // WinSock up.
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // Properties. The setters convert at once and report through the error
    // paths above; while the socket is not closed they only store the text
    // and report "Cannot change ... if not closed".
    const std::string& Addr() const { return addrStr_; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return portStr_; }
    void SetPort(const std::string& Value);
    const std::string& Proto() const { return protoStr_; }
    void SetProto(const std::string& Value);
    const std::string& DnsResult() const { return dnsResult_; }
    const TStringList& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    // Bytes taken in by Receive, ReceiveFrom and line reading since creation
    // or the last close.
    std::int32_t ReadCount() const { return readCount_; }
    // Bytes waiting in the socket now; -1 (after ReportSocketError) on failure.
    std::int32_t RcvdCount();
    std::int32_t LastError() const { return lastError_; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    SOCKET HSocket() const { return hSocket_; }
    // The hidden window that receives the notifications.
    HWND Handle() const { return window_.get(); }
    // The port number (host order) the Port text converted to.
    std::uint16_t PortNumber() const { return portNum_; }
    // True while the send queue holds no unsent byte.
    bool AllSent() const { return allSent_; }

    // Waiting style of Wait/ReadLine/Flush: false uses WaitCtrl and the
    // application's message processing, true the tick count and PumpMessages.
    bool MultiThreaded = false;
    // The wait control of the waits; not owned. The socket registers with it
    // and forgets it (WaitCtrl() becomes null) when the control is destroyed.
    TWait* WaitCtrl() const { return waitCtrl_; }
    void SetWaitCtrl(TWait* Ctrl);
    std::int32_t FlushTimeout = DefaultFlushTimeout; // seconds, back to 60 at every close

    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionClosed OnSessionClosed;
    TChangeState OnChangeState;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TNotifyEvent OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;

    // Called when a wait control goes away; the socket forgets it when it
    // is its WaitCtrl.
    void WaitCtrlRemoved(const TWait* Ctrl);

    // See TAliveGuard: false once the component has been destroyed.
    TAliveGuard Alive() const { return TAliveGuard(alive_); }

    // Error reporting: raises ESocketException(Message) unless OnError is
    // assigned, in which case only OnError is called.
    virtual void RaiseError(const std::string& Message);
    void RaiseErrorFmt(const char* Format, ...) __attribute__((format(printf, 2, 3)));

    // Event dispatchers: call the event with *this when it is assigned.
    virtual bool DoDataAvailable(std::uint16_t Error);
    virtual void DoSessionAvailable(std::uint16_t Error);
    virtual void DoSessionConnected(std::uint16_t Error);
    virtual void DoSessionClosed(std::uint16_t Error);
    virtual void DoDataSent(std::uint16_t Error);
    virtual void DoChangeState(TSocketState OldState, TSocketState NewState);
    virtual void DoDnsLookupDone(std::uint16_t Error);
    virtual void DoError();

    // Opens the socket and starts a non-blocking connect (stream) or arms a
    // datagram socket; the outcome of a stream connect arrives as
    // OnSessionConnected. Needs Port, Addr and Proto assigned.
    virtual void Connect();
    // Graceful close (shutdown both ways, then closesocket); Abort skips the
    // shutdown. Both raise OnSessionClosed(0) once per connection and put
    // the per-connection state back (unless that handler connected again).
    // Queued unsent bytes are discarded. The handler may destroy the
    // component (see the Alive() guard); the caller of Close must then not
    // touch it either.
    virtual void Close();
    virtual void Abort();
    // Waits for the send queue to drain (see WSocketWait.cpp).
    virtual void Flush();
    // Serves the socket until the peer closes.
    virtual void WaitUntilClosed();
    // Binds to Addr:Port and listens (stream) or arms a datagram socket;
    // 0 on success, -1 on failure.
    virtual int Listen();
    // Accepts a connection on a listening socket; the handle is the caller's
    // (hand it to another component's Dup). INVALID_SOCKET on failure.
    virtual SOCKET Accept();
    // recv/recvfrom straight into the caller's buffer; 0 at an orderly close,
    // -1 on failure (LastError holds the code, 10035 when nothing waits).
    virtual int Receive(void* Buffer, int Size);
    virtual int ReceiveFrom(void* Buffer, int Size, sockaddr& From, int& FromLen);
    // Queues Len bytes and sends what the socket takes now; never blocks and
    // returns Len (0 for Len <= 0), or -1 when not connected. OnDataSent
    // follows from the message loop once everything is out, never from
    // inside Send.
    virtual int Send(const void* Data, int Len);
    virtual int SendText(std::string_view Text);
    // Starts an asynchronous host-name lookup; OnDnsLookupDone reports it.
    virtual void DnsLookup(const std::string& HostName);
    // With KeepAddresses, a name looked up with success keeps its addresses
    // until ForgetAddresses, and DnsLookup answers it again from them at
    // once (before returning, as for a dotted address).
    bool KeepAddresses = false;
    void ForgetAddresses() { keptAddresses_.clear(); }
    // True when the last lookup was answered from kept addresses, which are
    // then forgotten (they may have gone stale): a new lookup asks anew.
    bool ForgetKeptLookup();
    // Cancels a pending lookup, which then reports WSAEINTR (10004).
    virtual void CancelDnsLookup();
    // Dotted peer address, or "error" when not connected or on failure.
    virtual std::string GetPeerAddr();
    virtual int GetPeerName(sockaddr_in& Address, int Length);
    // Local port in decimal, or "error" when not bound, connected or listening.
    virtual std::string GetLocalPort();
    virtual bool TimevalIsSet(const timeval& T);
    virtual void TimevalClear(timeval& T);
    virtual bool TimevalCompare(const timeval& A, const timeval& B, bool Equal);
    // Waits up to Timeout seconds for State() to become AwaitedState.
    virtual bool Wait(std::int32_t Timeout, TSocketState AwaitedState);
    // Reads one line (CR dropped, LF ends it, at most 254 characters) within
    // Timeout seconds; a partial line when the time runs out.
    virtual void ReadLine(std::int32_t Timeout, std::string& Line);
    virtual int GetSockName(sockaddr_in& Address, int& Length);
    // Adopts a connected handle (closing the current one first).
    virtual void Dup(SOCKET NewHSocket);
    virtual void Shutdown(int How);
    // Switch the notifications of the current socket off and on.
    virtual int Pause();
    virtual int Resume();

    // Dispatches every message waiting in the calling thread's queue, then
    // returns; never sleeps.
    void PumpMessages();

    // Process-wide WinSock bookkeeping (one GUI thread, no lock).
    static bool WinsockStarted();
    static int SocketInstanceCount();

protected:
    // Builds the message from the thread's last WinSock error and Name; see
    // the header comment.
    void ReportSocketError(std::string_view Name);
    void SetSocketState(TSocketState NewState);
    void BeginReadLine();
    void ContinueReadLine();
    bool Destroying() const { return destroying_; }
    // The count behind RcvdCount and the read loop's "bytes waiting":
    // FIONREAD; false (the thread's WinSock error set) on failure.
    virtual bool BytesWaiting(u_long& Count);

private:
    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override;
    void CreateSocketWindow();
    void ResetDefaults();
    bool StoreSetting(bool Assigned, std::string& Stored, const std::string& Value, const char* Refusal);
    void HandleSelectNotification(WPARAM WParam, LPARAM LParam);
    void HandleLookupNotification(WPARAM WParam, LPARAM LParam);
    void DeliverReceivedData(std::uint16_t Error);
    void TryToSend();
    void CloseConnection(bool Graceful);
    bool CloseHandleOnce(); // closesocket, retrying while it would block
    void ReleaseHandle();
    void BindLocalAnyPort();
    bool SetSocketOptions();
    void PumpWhileClosing();
    bool SelectEvents(SOCKET Socket, long Events);
    int CountReceived(int Result); // recv result: LastError or ReadCount
    // Wait-control side of the waits (WSocketWaitCtrl.cpp).
    void StopWaitCountdown();
    bool ModalWait(std::int32_t Timeout);
    void FlushWithWaitCtrl();
    void DeadlineLoop(std::int32_t Timeout, const std::function<bool()>& Condition);
    // Sleeps until a message waits in the thread's queue or Ms have passed.
    // Loops that wait for a notification sleep at most IdleSliceMs at a time,
    // so one that never comes costs a short delay, not a hang.
    static void IdleUntilMessage(DWORD Ms);
    static constexpr DWORD IdleSliceMs = 100;

    SOCKET hSocket_ = INVALID_SOCKET;
    bool portAssigned_ = false;
    bool addrAssigned_ = false;
    bool protoAssigned_ = false;
    std::string protoStr_;
    std::string addrStr_;
    std::string portStr_;
    std::uint16_t portNum_ = 0;
    std::uint16_t localPortNum_ = 0;
    int proto_ = IPPROTO_TCP;
    int sockType_ = SOCK_STREAM;
    std::string dnsResult_;
    TStringList dnsResultList_;
    SOCKET acceptedHSocket_ = INVALID_SOCKET;
    TSocketState state_ = wsInvalidState;
    TSendQueue sendQueue_{DefaultChunkSize};
    int sendFlags_ = 0;
    TSocketState awaitedState_ = wsInvalidState;
    std::int32_t lastError_ = 0;
    bool paused_ = false;
    bool allSent_ = true;
    std::string lineBuffer_; // at most LineLimit characters
    bool readLineActive_ = false;
    std::int32_t readCount_ = 0;
    bool closeEventFired_ = false;
    // Counts released handles, so that code running after an event handler
    // can tell that the handler closed (and maybe reopened) the socket.
    std::uint32_t releasedHandles_ = 0;
    bool destroying_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    TWait* waitCtrl_ = nullptr;
    ui::TWindowHandle window_;
    // What an asynchronous lookup writes into: the host entry and the name
    // it resolves. A cancelled lookup may still write (some WinSock
    // implementations cannot stop one that is running), so its area is kept
    // until its notification arrives, and never freed while one may come.
    struct TLookupArea {
        alignas(hostent) char Buffer[MAXGETHOSTSTRUCT + 1] = {};
        std::string Name;
    };
    void AbandonLookup();
    std::unique_ptr<TLookupArea> lookup_;
    HANDLE lookupHandle_ = nullptr;
    std::vector<std::pair<HANDLE, std::unique_ptr<TLookupArea>>> abandonedLookups_;
    std::map<std::string, std::vector<std::string>> keptAddresses_; // by host name as asked
    std::string keptAnswer_; // the name the last lookup answered from keptAddresses_
    sockaddr_in sin_{};
};

// The published face of the component; it adds nothing.
class TWSocket : public TCustomWSocket {
public:
    using TCustomWSocket::TCustomWSocket;
};

// Starts WinSock 1.1 once per process; raises ESocketException
// "<LibName>: WSAStartup error #<code>" on failure (OnError not consulted).
bool EnsureWinsockStarted(const char* LibName);

} // namespace qm
