#include "ui/Application.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

// A message-only window that records what reaches its window procedure.
struct Recorder {
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
    {
        if (m >= WM_APP)
            Seen().push_back(m);
        return DefWindowProcA(h, m, w, l);
    }
    static std::vector<UINT>& Seen()
    {
        static std::vector<UINT> seen;
        return seen;
    }
    Recorder()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.lpszClassName = "QmRecorderTest";
        wc.hInstance = GetModuleHandleA(nullptr);
        RegisterClassA(&wc);
        hwnd = CreateWindowA("QmRecorderTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        Seen().clear();
    }
    ~Recorder() { DestroyWindow(hwnd); }
    HWND hwnd;
};

TEST(Application, ProcessMessagesDispatchesEverythingQueuedAndReturns)
{
    Recorder r;
    for (UINT i = 0; i < 5; ++i)
        PostMessageA(r.hwnd, WM_APP + i, 0, 0);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(Recorder::Seen(), (std::vector<UINT>{WM_APP, WM_APP + 1, WM_APP + 2, WM_APP + 3, WM_APP + 4}));
    qm::ui::Application().ProcessMessages(); // empty queue: returns at once
}

TEST(Application, HookSwallowsWhatItHandles)
{
    Recorder r;
    std::vector<UINT> hooked;
    {
        qm::ui::TMessageHookGuard guard([&](MSG& m) {
            hooked.push_back(m.message);
            return m.message == WM_APP + 1;
        });
        PostMessageA(r.hwnd, WM_APP, 0, 0);
        PostMessageA(r.hwnd, WM_APP + 1, 0, 0);
        qm::ui::Application().ProcessMessages();
    }
    EXPECT_EQ(hooked, (std::vector<UINT>{WM_APP, WM_APP + 1}));
    EXPECT_EQ(Recorder::Seen(), std::vector<UINT>{WM_APP});
    EXPECT_FALSE(qm::ui::Application().OnMessage());
}

TEST(Application, GuardRestoresTheSavedHookWhenAnExceptionLeaves)
{
    int outerCalls = 0;
    auto previous = qm::ui::Application().SetOnMessage([&](MSG&) { ++outerCalls; return false; });
    try {
        qm::ui::TMessageHookGuard guard([](MSG&) { return true; });
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    Recorder r;
    PostMessageA(r.hwnd, WM_APP, 0, 0);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(outerCalls, 1);
    EXPECT_EQ(Recorder::Seen(), std::vector<UINT>{WM_APP});
    qm::ui::Application().SetOnMessage(std::move(previous));
}

} // namespace

TEST(Application, ExceptionParkedByAWindowProcedureLeavesProcessMessages)
{
    struct Thrower {
        static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
        {
            if (m == WM_APP) {
                try {
                    throw std::runtime_error("from the window procedure");
                } catch (...) {
                    qm::ui::ParkDispatchException(std::current_exception());
                }
                return 0;
            }
            return DefWindowProcA(h, m, w, l);
        }
    };
    WNDCLASSA wc{};
    wc.lpfnWndProc = Thrower::Proc;
    wc.lpszClassName = "QmThrowerTest";
    wc.hInstance = GetModuleHandleA(nullptr);
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("QmThrowerTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_THROW(qm::ui::Application().ProcessMessages(), std::runtime_error);
    qm::ui::Application().ProcessMessages(); // parked only once
    qm::ui::RethrowParkedException();
    DestroyWindow(hwnd);
}
