// THttpCli: one HTTP/1.0 request at a time (GET, POST, HEAD), directly or
// through a proxy, with Basic authorization, following Location relocations,
// delivering the document through OnDocData and into RcvdStream. Entirely
// message-driven: it owns one TWSocket and one hidden window, and advances
// only when the socket reports a lookup, a connection, data, sent data or a
// close, or when one of its own posted messages (WM_HTTPCLI_DONE,
// WM_HTTPCLI_READY, WM_HTTPCLI_RELOCATE) comes back. Everything runs on the
// thread that created it.
//
// Call order: set URL (and as needed RcvdStream, SendStream, Proxy,
// ProxyPort, Username, Password and the other request fields), then either
//  - Get() / ExecuteRequest(kind): starts the request and dispatches the
//    thread's messages (sleeping while none waits) until State() is hsReady
//    again; events fire meanwhile; OnRequestDone has fired when it returns;
//  - StartRequest(kind): returns once the lookup has been asked for; the end
//    is OnRequestDone (after State() went back to hsReady).
// Abort() ends a running request (status 404 "Connection aborted on
// request", request-done error 3); while hsReady it does nothing.
// The document ends only when the server closes the connection (over TLS:
// or sends close_notify).
// Credentials (Username, Password): with a proxy set they are the proxy's
// and go only to it, as Proxy-Authorization on every hop (in CONNECT for a
// tunnel), never to a web server. Without a proxy, and whenever the URL
// carries a user name (which replaces Username and Password), they are the
// server's: Authorization only to the origin server (host and port) the
// request started with, never to the target of a relocation elsewhere, and
// nothing to a proxy.
//
// HTTPS: a URL whose scheme is "https" runs over TLS (port 443 unless the URL
// names one) with the server's certificate checked for the host name;
// through a proxy it runs in a tunnel (CONNECT host:port, with the proxy's
// Proxy-Authorization). A relocation from http to https
// is followed; one from https to any other scheme is refused (404, a reason
// that says so). Over TLS a failed session, a document shorter than its
// Content-Length when the connection ends, or a document without
// Content-Length that ends without the server's close_notify, ends the
// request as failed (404); the server's close_notify ends the document as a
// close does.
//
// Errors:
//  - StartRequest raises EHttpException("HTTP component is busy", 1) unless
//    hsReady, EHttpException("HTTP component has nothing to post", 2) for a
//    POST without SendStream, and lets the socket's ESocketException through
//    when the lookup cannot be started (the client is hsReady again then).
//  - Every other failure (lookup, connect, abort, a server status of 400 or
//    more, a malformed status line or Content-Length, a header line longer
//    than the receive buffer, a response header longer than MaxHeaderSize,
//    a connection that ends with an error (a reset), StallTimeout without
//    a connection or a received byte, a failed write to RcvdStream, more
//    than MaxRelocations relocations) ends the
//    request normally with StatusCode() and ReasonPhrase() set (404 for local
//    failures); ExecuteRequest/Get then raise EHttpException(ReasonPhrase,
//    StatusCode). A connection closed before any status line leaves
//    StatusCode() 0 and raises nothing.
//  - Exceptions raised by event handlers are not caught by the client; from
//    inside Get they leave Get while the request is still running.
//
// Ownership and lifetime: RcvdStream and SendStream stay the caller's and
// must outlive the request. The client may be destroyed from inside any of
// its event handlers and while Get waits (Get then raises
// EHttpException("Connection aborted on request", 404) and the caller must
// not touch the client again). No event fires from the destructor.
//
// Files: HttpProt.cpp (life cycle, hidden window, state, Abort, the
// synchronous wait, the Do* event dispatchers), HttpProtRequest.cpp (starting a request, lookup and
// connect handling, the request text, post data), HttpProtResponse.cpp
// (receiving, header lines, relocation, document chunks, the end of a
// request), HttpProtSecure.cpp (the scheme, the proxy tunnel and the
// checks at the end of a secure request); the byte cutting and the reading
// of header lines are portable, in HttpProtReception.h.
#pragma once

#include "base/DateTime.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "http/HttpProtReception.h"
#include "http/HttpProtText.h"
#include "http/HttpRetry.h"
#include "net/TlsWSocket.h"
#include "ui/ObjectWindow.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm {

class THttpCli;

enum THttpRequest : std::uint8_t {
    rqNone = 0, // no request issued since creation
    rqGet = 1,
    rqPost = 2,
    rqHead = 3,
};

enum THttpCliState : std::uint8_t {
    hsReady = 0,      // idle; a request may be started
    hsConnecting = 1, // request accepted, or the TCP connection being made
    hsDnsLookup = 2,  // host-name lookup under way
    hsConnected = 3,  // request sent (post data being sent), header being read
    hsReceiving = 4,  // header complete, document bytes being received
    hsAborting = 5,   // Abort was called, the request winds down
};

class EHttpException : public Exception {
public:
    EHttpException(std::string Msg, std::uint16_t Code) : Exception(std::move(Msg)), ErrorCode(Code) {}

    // 1 busy, 2 nothing to post, otherwise the request's StatusCode.
    std::uint16_t ErrorCode;
};

// Events; the first argument is always the client that fires it.
using THttpNotifyEvent = std::function<void(THttpCli&)>;
// Buffer/Len: the chunk (document or post data); valid during the call only.
using TDocDataEvent = std::function<void(THttpCli&, const void* Buffer, std::int32_t Len)>;
// S: one request line without CR LF.
using TOnCommand = std::function<void(THttpCli&, const std::string& S)>;
using THttpRequestDone = std::function<void(THttpCli&, THttpRequest RqType, std::uint16_t Error)>;

class THttpCli : private ui::TWindowOwner {
public:
    using TNotifyEvent = THttpNotifyEvent;

    // Private messages of the hidden window (both parameters 0).
    static constexpr UINT WM_HTTPCLI_DONE = WM_USER + 1;     // fire OnRequestDone
    static constexpr UINT WM_HTTPCLI_READY = WM_USER + 2;    // State := hsReady
    static constexpr UINT WM_HTTPCLI_RELOCATE = WM_USER + 3; // StartConnection
    static constexpr UINT_PTR StallTimerId = 1; // WM_TIMER of the stall watch
    // The receive and post buffers; at most BufferSize - 1 received bytes are
    // held, so a header line is at most that long.
    static constexpr std::int32_t BufferSize = 8192;
    // One response's header, its lines and line ends together, is at most
    // this long; a longer one fails the request.
    static constexpr std::int32_t MaxHeaderSize = 65536;
    // Relocations followed in one request; the next one ends it (404, "Too
    // many relocations: more than 20"), as a loop would never end.
    static constexpr int MaxRelocations = 20;

    // Creates the hidden window and the socket; raises qm::Exception when the
    // window cannot be created, ESocketException when WinSock cannot start.
    THttpCli();
    // Closes the connection without raising any event.
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // ---- request settings (read when a request starts) ----
    std::string URL;
    std::string Proxy;        // "host[:port]"; empty: direct connection
    std::string ProxyPort = "80";
    std::string Sender;       // "From: " line when not empty
    std::string Agent;        // "User-Agent: " line when not empty
    std::string Reference;    // "Referer: " line when not empty
    std::string Username;     // Basic authorization when not empty; a URL's
    std::string Password;     // credentials replace both (and stay here)
    bool NoCache = false;     // "Pragma: no-cache"
    TDateTime ModifiedSince = 0; // If-Modified-Since when not 0 (sent as is, " GMT" appended)
    std::string Cookie;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    TStream* RcvdStream = nullptr; // receives the document; not owned
    TStream* SendStream = nullptr; // POST data from its current position; not owned
    // A request during which nothing arrives (no lookup answer, connection
    // or byte, encrypted or not) for this long fails: 404 "the server
    // stopped answering ...". So does one that, once this long has passed,
    // received fewer than StallBytes bytes from the network (raw bytes, as
    // TLS records bring them) within the last StallTimeout: a trickle holds a
    // request as long as silence would. Read as the request runs.
    std::chrono::milliseconds StallTimeout = std::chrono::seconds(120);
    std::int64_t StallBytes = 4096;

    // Chooses the pump of the synchronous wait (true: the socket's
    // PumpMessages, false: the application's ProcessMessages) and sets the
    // socket's MultiThreaded.
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool Value);

    // ---- results ----
    THttpCliState State() const { return state_; }
    std::int64_t RcvdCount() const { return rcvdCount_; }     // document bytes, all hops
    std::int64_t SentCount() const { return sentCount_; }     // post bytes handed to the socket
    int StatusCode() const { return statusCode_; }            // 404 for local failures
    const std::string& ReasonPhrase() const { return reasonPhrase_; }
    // The Content-Length of the current request's last response; empty when
    // that response carried none (or none has come yet). Informational: the
    // body still ends at the server's close.
    std::optional<std::int64_t> ContentLength() const { return contentLength_; }
    const std::string& ContentType() const { return contentType_; } // last Content-Type
    // Why the current (or last) request failed: None while it has not, Status
    // for a server's status of 400 or more, otherwise the local reason
    // behind the 404 (HttpRetry.h decides whether it is worth another try).
    TRequestFailure Failure() const;
    // The Retry-After value of the request's last response, as sent; empty
    // when it had none. A response of 400 or more ends the request only once
    // its header is read (or breaks its bounds, or stalls: its status stands),
    // so a Retry-After in a later packet is still seen.
    const std::string& RetryAfter() const { return retryAfter_; }
    // "TLS 1.2, <cipher suite>" of the last hop when it ran over TLS; empty
    // otherwise.
    std::string TlsConnection() const;
    const std::string& DocName() const { return docName_; }   // file name derived from URL
    const std::string& LastLine() const { return lastLine_; } // header line or chunk being handled
    // The non-empty response header lines of the current request (of every
    // relocation hop), cleared when a request starts; bounded by
    // MaxHeaderSize per response.
    const TStringList& RcvdHeader() const { return rcvdHeader_; }
    // The WWW-Authenticate values of every request; never cleared.
    const TStringList& WwwAuthenticate() const { return wwwAuthenticate_; }
    HWND Handle() const { return window_.get(); } // the hidden window
    // The connection's socket, for tests that deliver a notification the
    // way Windows does where Wine differs (a reset).
    const TWSocket& Socket() const { return socket_; }

    // ---- operations ----
    void StartRequest(THttpRequest RqType);
    void ExecuteRequest(THttpRequest RqType);
    void Get() { ExecuteRequest(rqGet); }
    void Abort();
    // With Keep, a host looked up once is not looked up again until
    // ForgetAddresses (the state still passes hsDnsLookup, at once); a
    // connect to a kept address that fails looks the host up anew, once,
    // before the request fails.
    void KeepAddresses(bool Keep) { socket_.KeepAddresses = Keep; }
    void ForgetAddresses() { socket_.ForgetAddresses(); }

    // ---- events ----
    TNotifyEvent OnTrace; // never fired by this client
    TNotifyEvent OnHeaderData;  // after each non-empty response header line
    TOnCommand OnCommand;       // each request line as it is composed
    TNotifyEvent OnHeaderBegin; // before the request header; at the first response line
    TNotifyEvent OnHeaderEnd;   // before the request's empty line; at the end of the final response header
    TNotifyEvent OnDocBegin;    // before the first document chunk
    TDocDataEvent OnDocData;    // each chunk; RcvdCount includes it, RcvdStream not yet
    TNotifyEvent OnDocEnd;      // at the close, when a chunk was delivered
    TNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;   // each piece of post data before it is sent
    TNotifyEvent OnSendEnd;
    TNotifyEvent OnStateChange; // each time State() takes a different value
    THttpRequestDone OnRequestDone; // once per request, after hsReady

protected:
    virtual void SendLine(const std::string& Line);
    virtual void StartConnection();
    virtual void Disconnect();
    virtual void DoHeaderBegin();
    virtual void DoHeaderEnd();
    virtual void DoDocBegin();
    virtual void DoDocData(const void* Buffer, std::int32_t Len);
    virtual void DoDocEnd();
    virtual void DoSendBegin();
    virtual void DoSendData(const void* Buffer, std::int32_t Len);
    virtual void DoSendEnd();

private:
    using TLineConsumer = void (THttpCli::*)();

    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override;
    // The one way State changes: fires OnStateChange on a change, and on the
    // change to hsReady posts WM_HTTPCLI_DONE unless !RequestEnds. True when
    // the client lives on and is still in NewState after the event.
    bool SetState(THttpCliState NewState, bool RequestEnds = true);
    void PostToSelf(UINT Msg);
    void EndConnection();
    // The stall watch: armed when a request starts; every arrival moves its
    // deadline on (Arrived, and any byte the socket read, as the timer finds);
    // the timer fails the request once StallTimeout has passed without one,
    // or with fewer than StallBytes bytes read within it (Trickled).
    void Arrived() { lastArrival_ = GetTickCount64(); }
    void StartStallWatch();
    bool Trickled(ULONGLONG Now);
    ULONGLONG StallMs() const { return static_cast<ULONGLONG>(std::max<std::int64_t>(StallTimeout.count(), 1)); }
    void ArmStallTimer(ULONGLONG Ms);
    void StallTimerFired();
    void Stalled();
    // "host:port" of the origin server the current hop asks, lower-cased.
    std::string RequestOrigin() const;
    // Whether Username and Password are the proxy's (see the top).
    bool CredentialsForProxy() const { return !Proxy.empty() && !credentialsInURL_; }
    // Request side (HttpProtRequest.cpp).
    void SplitRequestURL();
    void SetDocNameFromPath(const std::string& Path);
    void StartNextHop();
    void SocketDnsLookupDone(std::uint16_t Error);
    void SocketSessionConnected(std::uint16_t Error);
    std::vector<std::string> RequestLines(const std::string& Method) const;
    bool SendRequest(const std::string& Method);
    void SocketDataSent(std::uint16_t Error);
    // Response side (HttpProtResponse.cpp).
    void DropReceived();
    void SocketDataAvailable(std::uint16_t Error);
    void CutHeaderLines();
    void HeaderLine();
    bool HandleHeaderLine(const std::string& Line); // false: malformed, the request ended
    bool CountHeaderBytes(std::int32_t Count);      // false: past MaxHeaderSize, the request ended
    void Broken(int Error);                         // the connection ended with Error
    void Relocate(const std::string& Location);
    void HeaderEnd();
    void DocChunk();
    void Fail(std::string Reason, TRequestFailure Kind = TRequestFailure::Malformed);
    void HeaderFault(std::string Reason);
    void SocketSessionClosed(std::uint16_t Error);
    void RelocationClosed();
    // HTTPS (HttpProtSecure.cpp).
    void ChooseScheme(const TUrlParts& Url);
    void PrepareConnection();
    bool RelocateSecure(const std::string& Location);
    bool TunnelPending() const;
    bool OpenTunnel(std::uint16_t Error);
    void TunnelData();
    bool CheckSecureEnd(std::uint16_t Error);

    // Its Alive() guard is the client's too: the socket dies with the
    // client, so code that raised an event checks it before going on.
    TTlsWSocket socket_;
    bool multiThreaded_ = false;
    THttpCliState state_ = hsReady;
    std::string hostName_;   // host to connect to
    std::string targetHost_; // the "Host: " line
    std::string port_;       // port to connect to
    char sendBuffer_[BufferSize] = {};
    THttpRequest requestType_ = rqNone;
    TResponseBuffer received_;
    std::string lastLine_;
    std::int32_t headerLines_ = 0;
    std::int32_t docChunks_ = 0;
    bool sending_ = false;
    bool ending_ = false; // the closed handler ran for this request
    std::string path_;    // the Request-URI
    std::string docName_;
    int statusCode_ = 0;
    std::string reasonPhrase_;
    std::optional<std::int64_t> contentLength_;
    std::int32_t headerBytes_ = 0; // of the response being read
    std::string contentType_;
    TStringList wwwAuthenticate_;
    bool relocating_ = false;     // a Location field was applied
    bool closeRelocates_ = false; // the next close starts the next hop
    int relocations_ = 0;         // hops followed in this request
    TStringList rcvdHeader_;
    std::int64_t rcvdCount_ = 0;
    std::int64_t sentCount_ = 0;
    std::string requestText_;
    std::string authOrigin_; // RequestOrigin() when the request started
    bool credentialsInURL_ = false; // the request's URL named a user
    ULONGLONG lastArrival_ = 0;
    std::int32_t readCountSeen_ = 0; // the socket's ReadCount at the last look
    std::int64_t rawBytes_ = 0;      // read from the network in this request
    struct TByteSample {
        ULONGLONG Time;
        std::int64_t Bytes; // rawBytes_ then
    };
    std::vector<TByteSample> samples_; // the stall watch's looks, the oldest
                                       // one at most a period back first
    std::int32_t requestDoneError_ = 0;
    TRequestFailure failure_ = TRequestFailure::None;
    std::string retryAfter_;
    TLineConsumer lineConsumer_ = nullptr;
    bool secure_ = false;      // this hop runs over TLS
    bool tunnel_ = false;      // ... inside a proxy tunnel
    bool tunnelOpen_ = false;  // the proxy accepted CONNECT on this connection
    std::string tunnelPort_;   // the origin server's port (secure hops)
    int tunnelStatus_ = 0;     // the proxy's answer to CONNECT
    std::string tunnelReason_;
    std::int64_t bodyLength_ = -1; // this response's Content-Length; -1: none
    ui::TWindowHandle window_; // last: goes first when the client is destroyed
};

} // namespace qm
