// The application object: the GUI thread's message loop, the step that
// processes all pending messages, and the application-wide message hook that
// sees every message before it is dispatched.
//
// One per process (the program has one GUI thread); reach it through
// Application().
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace qm::ui {

class TApplication {
public:
    // Sees every message taken from the queue before it is translated and
    // dispatched; returning true marks it handled, and it is not dispatched.
    using TMessageEvent = std::function<bool(MSG&)>;

    // Installs hook and returns the one it replaces (which it no longer calls).
    TMessageEvent SetOnMessage(TMessageEvent hook);
    const TMessageEvent& OnMessage() const { return onMessage_; }

    // Processes every message waiting in the thread's queue, then returns
    // without waiting for more. A WM_QUIT met on the way sets Terminated.
    void ProcessMessages();
    // Waits for one message and processes it.
    void HandleMessage();
    // Runs the message loop until WM_QUIT or Terminate().
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }

    std::string Title;

private:
    // Takes one message if there is one; false when the queue is empty.
    bool ProcessMessage(MSG& msg);
    void Dispatch(MSG& msg);

    TMessageEvent onMessage_;
    bool terminated_ = false;
};

TApplication& Application();

// An exception must not unwind through the system's frames between
// DispatchMessageA and a window procedure. A window procedure catches it at
// its boundary and parks it here; the thread's message pumps (ProcessMessages,
// HandleMessage, Run, and any other pump that calls RethrowParkedException
// after DispatchMessageA) rethrow it once DispatchMessageA has returned, so the
// pump's caller sees it as if it had come straight through. One slot per
// thread: while one waits, a second is dropped.
void ParkDispatchException(std::exception_ptr e) noexcept;
void RethrowParkedException();

// Restores a saved message hook when it leaves scope, also when an exception
// leaves the scope.
class TMessageHookGuard {
public:
    explicit TMessageHookGuard(TApplication::TMessageEvent replacement)
        : saved_(Application().SetOnMessage(std::move(replacement))) {}
    ~TMessageHookGuard() { Application().SetOnMessage(std::move(saved_)); }
    TMessageHookGuard(const TMessageHookGuard&) = delete;
    TMessageHookGuard& operator=(const TMessageHookGuard&) = delete;

private:
    TApplication::TMessageEvent saved_;
};

} // namespace qm::ui
