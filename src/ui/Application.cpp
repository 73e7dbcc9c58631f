#include "ui/Application.h"

#include <utility>

namespace qm::ui {

TApplication& Application()
{
    static TApplication app;
    return app;
}

namespace {
thread_local std::exception_ptr parkedException;
}

void ParkDispatchException(std::exception_ptr e) noexcept
{
    if (!parkedException)
        parkedException = std::move(e);
}

void RethrowParkedException()
{
    if (parkedException)
        std::rethrow_exception(std::exchange(parkedException, nullptr));
}

TApplication::TMessageEvent TApplication::SetOnMessage(TMessageEvent hook)
{
    return std::exchange(onMessage_, std::move(hook));
}

void TApplication::Dispatch(MSG& msg)
{
    // Copy the hook: a handler may replace it while it runs.
    if (const TMessageEvent hook = onMessage_; hook && hook(msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    RethrowParkedException();
}

bool TApplication::ProcessMessage(MSG& msg)
{
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (msg.message == WM_QUIT)
        terminated_ = true;
    else
        Dispatch(msg);
    return true;
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (ProcessMessage(msg)) {
    }
}

void TApplication::HandleMessage()
{
    MSG msg;
    if (!ProcessMessage(msg))
        WaitMessage();
}

void TApplication::Run()
{
    while (!terminated_)
        HandleMessage();
}

void TApplication::Terminate()
{
    PostQuitMessage(0);
}

} // namespace qm::ui
