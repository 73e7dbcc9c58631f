#include "net/Wait.h"

#include "base/Exception.h"
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Every message the tests post carries this lParam, so they can be told from
// whatever the system sends on its own.
constexpr LPARAM Marker = MAKELPARAM(7, 9);

// A hidden top-level window of a class that records the marked messages
// reaching its window procedure. Also serves as the wait control's parent.
// (Hidden: under Wine without a window manager, destroying a visible
// top-level window waits two seconds for the X server.)
class TestWindow {
public:
    TestWindow()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QmWaitTestWindow";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowA("QmWaitTestWindow", "wait test", WS_POPUP, 10, 10, 300,
                              120, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~TestWindow()
    {
        if (IsWindow(hwnd_))
            DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    void Post(UINT msg, WPARAM wParam = 0) const { PostMessageA(hwnd_, msg, wParam, Marker); }

    std::vector<UINT> Received;
    std::function<void()> OnTimer; // runs on WM_TIMER of this window

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
    {
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        if (self && m == WM_TIMER && self->OnTimer) {
            self->OnTimer();
            return 0;
        }
        if (self && l == Marker)
            self->Received.push_back(m);
        return DefWindowProcA(h, m, w, l);
    }

    HWND hwnd_;
};

// Counts the beeps instead of sounding them.
class CountingWait : public qm::TWait {
public:
    using TWait::TWait;
    int Beeps = 0;

protected:
    void Beep() override { ++Beeps; }
};

// Processes messages until done() or the time is up; false on time-out.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        qm::ui::Application().ProcessMessages();
        Sleep(1);
    }
    return true;
}

class Wait : public testing::Test {
protected:
    Wait() { wait.SetInterval(20); }

    TestWindow window;
    CountingWait wait{window.Handle()};
};

TEST_F(Wait, CountdownFromThreeRunsOutAndRestoresTheCaption)
{
    std::vector<int> counts;
    int timeouts = 0;
    wait.OnWait = [&](qm::TCustomWait&, int count) { counts.push_back(count); };
    wait.OnTimeout = [&](qm::TCustomWait& sender) {
        EXPECT_EQ(&sender, &wait);
        ++timeouts;
    };
    wait.Caption = "3";
    const auto start = Clock::now();
    wait.WaitModal();
    EXPECT_GE(Clock::now() - start, 3 * 20ms - 10ms);
    EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrCancel);
    EXPECT_EQ(wait.Caption, "3");
    EXPECT_FALSE(wait.Running());
}

TEST_F(Wait, CaptionWithoutACountStartsFromFifteen)
{
    for (const char* caption : {"abc", "0", ""}) {
        wait.Caption = caption;
        wait.StartCountdown();
        EXPECT_TRUE(wait.Running());
        EXPECT_EQ(wait.Caption, "15") << caption;
        wait.StopCountdown();
        EXPECT_EQ(wait.Caption, "15") << caption;
    }
    wait.Caption = "  7 seconds";
    wait.StartCountdown();
    wait.StopCountdown();
    EXPECT_EQ(wait.Caption, "7");
}

TEST_F(Wait, StopWhileIdleStillReportsTheStop)
{
    int stops = 0;
    wait.OnWaitStop = [&](qm::TCustomWait&) { ++stops; };
    wait.Caption = "5";
    wait.StopCountdown();
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrOk);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(wait.Caption, "60"); // the initial count of a new control
    EXPECT_FALSE(wait.Running());
}

TEST_F(Wait, StopFromAnotherTimerEndsTheModalWait)
{
    int starts = 0, stops = 0, passes = 0;
    wait.OnWaitStart = [&](qm::TCustomWait&) { ++starts; };
    wait.OnWaitStop = [&](qm::TCustomWait&) { ++stops; };
    wait.OnWaiting = [&](qm::TCustomWait&) { ++passes; };
    wait.SetInterval(1000); // 60 s unless stopped
    window.OnTimer = [&] {
        KillTimer(window.Handle(), 5);
        wait.StopCountdown();
    };
    SetTimer(window.Handle(), 5, 30, nullptr);
    const auto start = Clock::now();
    wait.WaitModal();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrOk);
    EXPECT_EQ(wait.Caption, "60");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stops, 1);
    EXPECT_GT(passes, 0);
}

TEST_F(Wait, StopFromOnWaitIsFinal)
{
    std::vector<int> counts;
    int timeouts = 0;
    wait.OnWait = [&](qm::TCustomWait& sender, int count) {
        counts.push_back(count);
        if (count == 3)
            sender.StopCountdown();
    };
    wait.OnTimeout = [&](qm::TCustomWait&) { ++timeouts; };
    wait.Caption = "5";
    wait.WaitModal();
    EXPECT_EQ(counts, (std::vector<int>{4, 3}));
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrOk);
    EXPECT_EQ(wait.Caption, "5");
    // No tick after the stop, not even one already due.
    Sleep(60);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_EQ(timeouts, 0);
}

TEST_F(Wait, ChangingTheIntervalRestartsARunningTimer)
{
    wait.SetInterval(60000);
    wait.Caption = "2";
    wait.StartCountdown();
    wait.SetInterval(20);
    EXPECT_EQ(wait.Interval(), 20);
    EXPECT_TRUE(PumpUntil([&] { return !wait.Running(); }));
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrCancel);
}

TEST_F(Wait, PressesAreSwallowedWithABeepOtherMessagesPass)
{
    const UINT swallowed[] = {WM_KEYDOWN,       WM_SYSKEYDOWN,   WM_LBUTTONDOWN,
                              WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,  WM_RBUTTONDBLCLK};
    const std::vector<UINT> passing = {WM_MOUSEMOVE, WM_KEYUP,    WM_MOUSEWHEEL, WM_LBUTTONUP,
                                       WM_MBUTTONDOWN, WM_CHAR,   WM_APP + 5};
    TestWindow other; // any window of the application
    std::vector<UINT> during;
    wait.OnWaiting = [&, first = true](qm::TCustomWait&) mutable {
        if (!std::exchange(first, false))
            return;
        for (std::size_t i = 0; i < passing.size(); ++i) {
            other.Post(swallowed[i % std::size(swallowed)], VK_F7);
            other.Post(passing[i], VK_F7);
        }
    };
    wait.Caption = "2";
    wait.WaitModal();
    EXPECT_EQ(other.Received, passing);
    EXPECT_EQ(wait.Beeps, static_cast<int>(passing.size()));

    // Afterwards presses reach their window again.
    other.Post(WM_LBUTTONDOWN);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(other.Received.back(), static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(wait.Beeps, static_cast<int>(passing.size()));
}

TEST_F(Wait, TheRealBeepSwallowsToo)
{
    qm::TWait plain(window.Handle());
    plain.SetInterval(20);
    plain.Caption = "1";
    window.Post(WM_KEYDOWN, VK_F7);
    window.Post(WM_KEYUP, VK_F7);
    plain.WaitModal();
    EXPECT_EQ(window.Received, std::vector<UINT>{WM_KEYUP});
}

TEST_F(Wait, HookIsRestoredAfterTheWait)
{
    int outer = 0;
    auto previous = qm::ui::Application().SetOnMessage([&](MSG& m) {
        outer += m.lParam == Marker;
        return false;
    });
    wait.Caption = "1";
    wait.WaitModal();
    window.Post(WM_LBUTTONDOWN);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(window.Received, std::vector<UINT>{WM_LBUTTONDOWN});
    qm::ui::Application().SetOnMessage(std::move(previous));
}

TEST_F(Wait, HookIsRestoredWhenOnWaitingThrows)
{
    EXPECT_FALSE(qm::ui::Application().OnMessage());
    wait.OnWaiting = [](qm::TCustomWait&) { throw std::runtime_error("leave the wait"); };
    EXPECT_THROW(wait.WaitModal(), std::runtime_error);
    EXPECT_FALSE(qm::ui::Application().OnMessage());
    window.Post(WM_KEYDOWN, VK_F7);
    qm::ui::Application().ProcessMessages();
    EXPECT_EQ(window.Received, std::vector<UINT>{WM_KEYDOWN});
    EXPECT_EQ(wait.Beeps, 0);
    EXPECT_TRUE(wait.Running()); // the countdown is the caller's to stop
    wait.StopCountdown();
}

TEST_F(Wait, ExceptionFromATickLeavesTheModalWait)
{
    wait.OnWait = [](qm::TCustomWait&, int count) {
        if (count == 1)
            throw std::logic_error("tick");
    };
    wait.Caption = "3";
    EXPECT_THROW(wait.WaitModal(), std::logic_error);
    EXPECT_FALSE(qm::ui::Application().OnMessage());
    wait.StopCountdown();
}

TEST_F(Wait, ExceptionFromATickLeavesTheCallersMessageLoop)
{
    wait.OnTimeout = [](qm::TCustomWait&) { throw std::logic_error("timeout"); };
    wait.Caption = "1";
    wait.StartCountdown();
    EXPECT_THROW(PumpUntil([&] { return !wait.Running(); }), std::logic_error);
    EXPECT_FALSE(wait.Running());
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrCancel);
    EXPECT_NO_THROW(qm::ui::Application().ProcessMessages()); // raised once only
}

TEST(WaitWithoutParent, CountsDownInAMessageOnlyWindow)
{
    qm::TWait wait(nullptr);
    wait.SetInterval(20);
    std::vector<int> counts;
    wait.OnWait = [&](qm::TCustomWait&, int count) { counts.push_back(count); };
    wait.Caption = "2";
    wait.SetVisible(false);
    EXPECT_FALSE(wait.Visible());
    wait.WaitModal();
    EXPECT_EQ(counts, (std::vector<int>{1, 0}));
    EXPECT_EQ(wait.ModalResult, qm::TWait::mrCancel);
}

TEST(WaitWithoutParent, OutlivingItsParentWindowIsSafe)
{
    auto window = std::make_unique<TestWindow>();
    qm::TWait wait(window->Handle());
    wait.Caption = "5";
    wait.StartCountdown();
    window.reset(); // destroys the control's window with it
    EXPECT_EQ(wait.Handle(), nullptr);
    EXPECT_FALSE(wait.Running());
    // A countdown without a window could never time out.
    wait.Caption = "1";
    EXPECT_THROW(wait.WaitModal(), qm::Exception);
    EXPECT_FALSE(wait.Running());
    EXPECT_FALSE(qm::ui::Application().OnMessage());
    wait.StopCountdown();
}

} // namespace
