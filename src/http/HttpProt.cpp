// Life cycle, hidden window, state changes, Abort and the synchronous wait
// of THttpCli.
#include "http/HttpProt.h"

#include "base/Events.h"
#include "http/HttpProtText.h"
#include "ui/Application.h"

#include <algorithm>

namespace qm {
namespace {

constexpr char windowClassName[] = "QmHttpCliWindow";

} // namespace

THttpCli::THttpCli()
{
    window_ = ui::CreateOwnedWindow(*this, {.Name = windowClassName}, {.ExStyle = WS_EX_TOOLWINDOW, .Style = WS_POPUP});
    socket_.OnSessionClosed = [this](TCustomWSocket&, std::uint16_t Error) {
        if (closeRelocates_) {
            RelocationClosed();
            return;
        }
        // A secure end's own reason tells more than the socket's error.
        SocketSessionClosed(CheckSecureEnd(Error) ? 0 : Error);
    };
    socket_.OnDataAvailable = [this](TCustomWSocket&, std::uint16_t Error) {
        if (TunnelPending())
            TunnelData();
        else
            SocketDataAvailable(Error);
    };
    socket_.OnSessionConnected = [this](TCustomWSocket&, std::uint16_t Error) { SocketSessionConnected(Error); };
    socket_.OnDataSent = [this](TCustomWSocket&, std::uint16_t Error) { SocketDataSent(Error); };
    socket_.OnDnsLookupDone = [this](TCustomWSocket&, std::uint16_t Error) { SocketDnsLookupDone(Error); };
    // Whole chunks out of every full read on a plain connection.
    socket_.ReadAheadSize = TTlsWSocket::MaxReadAhead / (BufferSize - 1) * (BufferSize - 1);
}

// The window goes first (declared last): messages still queued for it are
// dropped. The socket then closes without events (its destructor clears them).
THttpCli::~THttpCli() = default;

void THttpCli::SetMultiThreaded(bool Value)
{
    multiThreaded_ = Value;
    socket_.MultiThreaded = Value;
}

bool THttpCli::SetState(THttpCliState NewState, bool RequestEnds)
{
    if (state_ == NewState)
        return true;
    state_ = NewState;
    // Posted before the event, so a handler that destroys the client leaves
    // nothing to do after it.
    if (NewState == hsReady && RequestEnds)
        PostToSelf(WM_HTTPCLI_DONE);
    const auto alive = socket_.Alive();
    Fire(OnStateChange, *this);
    return alive && state_ == NewState;
}

void THttpCli::PostToSelf(UINT Msg)
{
    PostMessageA(window_.get(), Msg, 0, 0);
}

LRESULT THttpCli::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    switch (Msg) {
    case WM_HTTPCLI_DONE:
        Fire(OnRequestDone, *this, requestType_, static_cast<std::uint16_t>(requestDoneError_));
        return 0;
    case WM_HTTPCLI_READY:
        SetState(hsReady);
        return 0;
    case WM_TIMER:
        if (WParam == StallTimerId)
            StallTimerFired();
        return 0;
    case WM_HTTPCLI_RELOCATE:
        // An abort since the relocation was posted has ended the request.
        // (hsConnecting: a connect to a kept address failed.)
        if (!ending_ && (state_ == hsConnected || state_ == hsConnecting))
            StartNextHop();
        return 0;
    default:
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    }
}

void THttpCli::StartConnection()
{
    PrepareConnection();
    if (SetState(hsDnsLookup))
        socket_.DnsLookup(hostName_);
}

void THttpCli::Disconnect()
{
    socket_.Close();
}

void THttpCli::Abort()
{
    // Nothing runs, or the request has ended and only waits for hsReady.
    if (state_ == hsReady || state_ == hsAborting || ending_)
        return;
    const bool lookingUp = state_ == hsDnsLookup;
    const auto alive = socket_.Alive();
    if (!SetState(hsAborting))
        return;
    if (lookingUp)
        socket_.CancelDnsLookup(); // its failure report is ignored while aborting
    if (!alive)
        return;
    statusCode_ = 404;
    reasonPhrase_ = "Connection aborted on request";
    failure_ = TRequestFailure::Aborted;
    requestDoneError_ = 3;
    EndConnection();
}

void THttpCli::StallTimerFired()
{
    const HWND window = window_.get();
    if (state_ == hsReady || state_ == hsAborting || ending_) {
        KillTimer(window, StallTimerId);
        return;
    }
    // Every byte from the network counts, also one that completes no TLS
    // record yet.
    if (const std::int32_t count = socket_.ReadCount(); count != readCountSeen_) {
        const auto delta = static_cast<std::uint32_t>(count) - static_cast<std::uint32_t>(readCountSeen_);
        // A count that went back belongs to a new connection (a relocation).
        rawBytes_ += delta > INT32_MAX ? static_cast<std::uint32_t>(count) : delta;
        readCountSeen_ = count;
        Arrived();
    }
    const ULONGLONG timeout = StallMs();
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG quiet = now - lastArrival_;
    if (quiet < timeout && !Trickled(now)) {
        ArmStallTimer(timeout - quiet); // something arrived meanwhile
        return;
    }
    KillTimer(window, StallTimerId);
    Stalled();
}

void THttpCli::StartStallWatch()
{
    Arrived();
    readCountSeen_ = socket_.ReadCount();
    rawBytes_ = 0;
    samples_.assign(1, {lastArrival_, 0});
    ArmStallTimer(StallMs());
}

bool THttpCli::Trickled(ULONGLONG Now)
{
    const ULONGLONG timeout = StallMs();
    samples_.push_back({Now, rawBytes_});
    while (samples_.size() > 1 && samples_[1].Time + timeout <= Now)
        samples_.erase(samples_.begin());
    return samples_.front().Time + timeout <= Now && rawBytes_ - samples_.front().Bytes < StallBytes;
}

// The timer looks at least eight times a period: a byte that the socket read
// but handed to nobody yet (a piece of a TLS record) is seen at most an
// eighth of the period late.
void THttpCli::ArmStallTimer(ULONGLONG Ms)
{
    const ULONGLONG look = std::clamp<ULONGLONG>(std::min(Ms, StallMs() / 8 + 1), 1, USER_TIMER_MAXIMUM);
    SetTimer(window_.get(), StallTimerId, static_cast<UINT>(look), nullptr);
}

void THttpCli::Stalled()
{
    const bool lookingUp = state_ == hsDnsLookup;
    if (state_ == hsConnected && !ending_ && statusCode_ >= 400 && failure_ == TRequestFailure::None) {
        HeaderFault(""); // the rest of a failed response's header is late: its status stands
        return;
    }
    const auto seconds = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(StallTimeout).count());
    statusCode_ = 404;
    // Either rule may end a request that got some bytes: both hold then.
    reasonPhrase_ = rawBytes_ == 0 ? "the server stopped answering (nothing arrived for " + seconds + " s)"
                                   : "the server stopped answering (fewer than " + std::to_string(StallBytes) +
                                         " bytes arrived in the last " + seconds + " s)";
    failure_ = TRequestFailure::Stall;
    DropReceived();
    const auto alive = socket_.Alive();
    EndConnection(); // the request has ended: the lookup's report is ignored
    if (!alive || !lookingUp)
        return;
    try {
        socket_.CancelDnsLookup();
    } catch (const ESocketException&) {
        // The lookup could not be cancelled: its late answer is ignored.
    }
}

std::string THttpCli::RequestOrigin() const
{
    if (tunnel_) // the request inside the tunnel goes to its target
        return LowerCase(targetHost_) + ":" + tunnelPort_;
    if (Proxy.empty())
        return LowerCase(targetHost_) + ":" + port_;
    const TUrlParts origin = SplitURL(path_); // the Request-URI is absolute
    return LowerCase(origin.Host) + ":" + (origin.Port.empty() ? "80" : origin.Port);
}

// Closes the connection, whose close event runs the closed handler; with no
// connection open (a lookup, or before the connect) it runs directly.
void THttpCli::EndConnection()
{
    closeRelocates_ = false;
    if (socket_.State() != wsClosed)
        socket_.Close();
    else
        SocketSessionClosed(0);
}

void THttpCli::ExecuteRequest(THttpRequest RqType)
{
    const auto alive = socket_.Alive();
    StartRequest(RqType);
    while (alive && state_ != hsReady) {
        // Every waiting message is dispatched, in order; then sleep until the
        // next one arrives (every change of State comes with a message).
        if (multiThreaded_)
            socket_.PumpMessages();
        else
            ui::Application().ProcessMessages();
        if (alive && state_ != hsReady)
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (!alive)
        throw EHttpException("Connection aborted on request", 404);
    if (statusCode_ >= 400)
        throw EHttpException(reasonPhrase_, static_cast<std::uint16_t>(statusCode_));
}

TRequestFailure THttpCli::Failure() const
{
    if (failure_ == TRequestFailure::None && statusCode_ >= 400)
        return TRequestFailure::Status;
    return failure_;
}

std::string THttpCli::TlsConnection() const
{
    return secure_ ? socket_.TlsConnection() : std::string();
}

void THttpCli::DoHeaderBegin() { Fire(OnHeaderBegin, *this); }
void THttpCli::DoHeaderEnd() { Fire(OnHeaderEnd, *this); }
void THttpCli::DoDocBegin() { Fire(OnDocBegin, *this); }
void THttpCli::DoDocData(const void* Buffer, std::int32_t Len) { Fire(OnDocData, *this, Buffer, Len); }
void THttpCli::DoDocEnd() { Fire(OnDocEnd, *this); }
void THttpCli::DoSendBegin() { Fire(OnSendBegin, *this); }
void THttpCli::DoSendData(const void* Buffer, std::int32_t Len) { Fire(OnSendData, *this, Buffer, Len); }
void THttpCli::DoSendEnd() { Fire(OnSendEnd, *this); }

} // namespace qm
