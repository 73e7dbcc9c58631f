// The wait-control side of the socket's waits (used when not MultiThreaded):
// the wait's duration is the control's countdown, shown to the user, and the
// socket ends a wait early by stopping the countdown.
#include "net/WSocket.h"

#include "net/Wait.h"
#include "ui/Application.h"

#include <string>

namespace qm {
namespace {

// Shows the wait control for the length of a wait and hides it afterwards,
// also when an exception leaves the wait.
class TShownWait {
public:
    TShownWait(TWait& Ctrl, std::int32_t Seconds) : ctrl_(Ctrl)
    {
        ctrl_.Caption = std::to_string(Seconds);
        ctrl_.SetVisible(true);
    }
    ~TShownWait() { ctrl_.SetVisible(false); }
    TShownWait(const TShownWait&) = delete;
    TShownWait& operator=(const TShownWait&) = delete;

private:
    TWait& ctrl_;
};

} // namespace

void TCustomWSocket::StopWaitCountdown()
{
    if (!MultiThreaded && waitCtrl_)
        waitCtrl_->StopCountdown();
}

// Runs the control's modal wait: it returns when the countdown runs out or
// is stopped by StopWaitCountdown. True when it was stopped.
bool TCustomWSocket::ModalWait(std::int32_t Timeout)
{
    TWait& ctrl = *waitCtrl_;
    TShownWait shown(ctrl, Timeout);
    try {
        ctrl.WaitModal();
    } catch (...) {
        // An exception from a handler ends the wait; so does its countdown.
        if (ctrl.Running())
            ctrl.StopCountdown();
        throw;
    }
    return ctrl.ModalResult == TCustomWait::mrOk;
}

void TCustomWSocket::FlushWithWaitCtrl()
{
    TWait& ctrl = *waitCtrl_;
    TShownWait shown(ctrl, FlushTimeout);
    struct StopGuard {
        TWait& Ctrl;
        ~StopGuard() { Ctrl.StopCountdown(); }
    } stop{ctrl};
    ctrl.StartCountdown();
    while (ctrl.Running() && hSocket_ != INVALID_SOCKET && !allSent_) {
        TryToSend();
        ui::Application().ProcessMessages();
        if (ctrl.Running() && hSocket_ != INVALID_SOCKET && !allSent_)
            IdleUntilMessage(IdleSliceMs);
    }
}

} // namespace qm
