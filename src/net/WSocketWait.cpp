// Waiting in a straight line of code: Wait (for a state), ReadLine (for one
// text line), Flush (for the send queue), WaitUntilClosed, and PumpMessages.
// None of them blocks the thread: each keeps dispatching the thread's
// messages, so the socket's notifications (and everything else) keep running
// and the handlers may call back into the socket; waits nest.
//
// MultiThreaded: bounded by the tick count, messages dispatched with
// PumpMessages (no application object needed). Otherwise: bounded by the
// wait control's countdown (WSocketWaitCtrl.cpp), messages dispatched by the
// application.
//
// When the queue is empty the MultiThreaded loops sleep until the next
// message arrives instead of spinning: every condition they wait for changes
// only in a message handler.
#include "net/WSocket.h"

#include "base/Events.h"
#include "ui/Application.h"

#include <algorithm>

namespace qm {
namespace {

// A line ends at LF or when it reaches this many characters.
constexpr std::size_t lineLimit = 254;


// Puts a value back when the scope ends, also by an exception.
template <class T>
class TRestore {
public:
    TRestore(T& Target, T Value) : target_(Target), value_(Value) {}
    ~TRestore() { target_ = value_; }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;

private:
    T& target_;
    T value_;
};

} // namespace

void TCustomWSocket::IdleUntilMessage(DWORD Ms)
{
    MsgWaitForMultipleObjectsEx(0, nullptr, Ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TCustomWSocket::PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to act on: leave it for the thread's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ui::RethrowParkedException();
    }
}

void TCustomWSocket::DeadlineLoop(std::int32_t Timeout, const std::function<bool()>& Condition)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(Timeout, 0)) * 1000U;
    for (ULONGLONG now = GetTickCount64(); now < deadline && Condition(); now = GetTickCount64()) {
        PumpMessages();
        if (Condition())
            IdleUntilMessage(static_cast<DWORD>(deadline - now));
    }
}

bool TCustomWSocket::Wait(std::int32_t Timeout, TSocketState AwaitedState)
{
    if (state_ == AwaitedState)
        return true;
    awaitedState_ = AwaitedState;
    if (!MultiThreaded && !waitCtrl_) {
        WSASetLastError(WSANO_DATA);
        ReportSocketError("TWSocket.Wait");
        return false;
    }
    {
        TRestore<TSocketState> restore(awaitedState_, wsInvalidState);
        if (MultiThreaded)
            DeadlineLoop(Timeout, [&] { return state_ != AwaitedState; });
        else
            ModalWait(Timeout);
    }
    return state_ == AwaitedState;
}

void TCustomWSocket::ReadLine(std::int32_t Timeout, std::string& Line)
{
    if (!MultiThreaded && !waitCtrl_) {
        RaiseError("No wait object assigned");
        return;
    }
    BeginReadLine();
    ContinueReadLine();
    if (readLineActive_) {
        if (MultiThreaded)
            DeadlineLoop(Timeout, [&] { return readLineActive_; });
        else
            ModalWait(Timeout);
    }
    Line = lineBuffer_;
}

void TCustomWSocket::BeginReadLine()
{
    if (readLineActive_)
        return; // an unfinished line from an earlier call goes on
    lineBuffer_.clear();
    readLineActive_ = true;
}

// Reads one byte per recv, never more than the socket reports waiting, so
// nothing behind the line is taken from the socket.
void TCustomWSocket::ContinueReadLine()
{
    const auto endLine = [this] {
        readLineActive_ = false;
        StopWaitCountdown();
    };
    for (;;) {
        if (hSocket_ == INVALID_SOCKET) {
            endLine();
            return;
        }
        char ch = 0;
        int n = -2; // nothing read
        if (state_ == wsConnected) {
            u_long waiting;
            if (!BytesWaiting(waiting)) {
                readLineActive_ = false;
                ReportSocketError("ioctlSocket");
                return;
            }
            if (waiting > 0)
                n = recv(hSocket_, &ch, 1, 0);
        }
        if (n == 1) {
            CountReceived(1);
            bool lineEnd = ch == '\n';
            if (ch != '\n' && ch != '\r') {
                lineBuffer_ += ch;
                if (lineBuffer_.size() >= lineLimit) {
                    lineEnd = true;
                    const auto alive = Alive();
                    Fire(OnLineTooLong, *this);
                    if (!alive)
                        return;
                }
            }
            if (lineEnd) {
                endLine();
                return;
            }
            continue;
        }
        if (n == -1) {
            const int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                continue;
            if (code != WSAECONNRESET) {
                ReportSocketError("ReadLine");
                return;
            }
            n = 0; // a reset ends the line like an orderly close
        }
        if (n == 0) {
            endLine();
            Close();
        }
        return; // nothing waiting: the next read notification goes on
    }
}

void TCustomWSocket::Flush()
{
    if (!MultiThreaded) {
        if (!waitCtrl_) {
            RaiseError("No wait object assigned");
            return;
        }
        FlushWithWaitCtrl();
        return;
    }
    while (hSocket_ != INVALID_SOCKET && !allSent_) {
        TryToSend();
        PumpMessages();
        if (hSocket_ != INVALID_SOCKET && !allSent_)
            IdleUntilMessage(IdleSliceMs); // FD_WRITE or a close is a message
    }
}

// Serves the socket until it is closed: pending data goes to the line reader
// or OnDataAvailable, and the close arrives as FD_CLOSE. A zero-length recv
// probes the connection between passes: it fails with "would block" on a
// healthy idle socket, returns 0 at the end of the stream when nothing is
// left to read, and fails otherwise when the connection is broken.
void TCustomWSocket::WaitUntilClosed()
{
    while (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        ui::Application().ProcessMessages();
        u_long waiting;
        if (hSocket_ == INVALID_SOCKET || !BytesWaiting(waiting))
            break;
        if (waiting > 0) {
            if (readLineActive_)
                ContinueReadLine();
            else
                DoDataAvailable(0);
        }
        if (hSocket_ == INVALID_SOCKET || !BytesWaiting(waiting))
            break;
        char probe;
        const int n = recv(hSocket_, &probe, 0, 0);
        if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
            lastError_ = WSAGetLastError();
            break;
        }
        if (n == 0 && waiting == 0) {
            lastError_ = 0;
            break; // end of stream: the peer has closed
        }
        ui::Application().ProcessMessages();
        if (hSocket_ != INVALID_SOCKET && state_ != wsClosed)
            IdleUntilMessage(IdleSliceMs);
    }
}

} // namespace qm
