#include "ui/PaintPacer.h"

#include <gtest/gtest.h>

namespace {

// A white top-level window with a black rectangle (a control that draws
// itself) at 10,10, 100 x 20.
struct TScene {
    TScene()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "QmPacerTest";
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        RegisterClassA(&wc);
        owner = CreateWindowA(wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 200, 60, nullptr, nullptr, nullptr,
                              nullptr);
        box = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 10, 10, 100, 20, owner, nullptr,
                            nullptr, nullptr);
        UpdateWindow(owner);
    }
    ~TScene() { DestroyWindow(owner); }
    COLORREF Pixel(int X, int Y) const
    {
        const HDC dc = GetDC(owner);
        const COLORREF c = GetPixel(dc, X, Y);
        ReleaseDC(owner, dc);
        return c;
    }
    HWND owner, box;
};

TEST(PaintPacer, AControlThatShrankWhileHeldLeavesNothingOfItselfBehind)
{
    TScene s;
    qm::ui::TPaintPacer pacer(30);
    pacer.SetOwner(s.owner);
    const COLORREF ink = s.Pixel(80, 20);
    ASSERT_NE(ink, RGB(255, 255, 255));
    pacer.Changing(s.box);
    SetWindowPos(s.box, nullptr, 0, 0, 10, 20, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_FALSE(IsWindowVisible(s.box)) << "held: not drawn before the frame ends";
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) && !(m.message == WM_TIMER && m.wParam == pacer.TimerId))
        DispatchMessageA(&m);
    pacer.FrameEnded();
    EXPECT_TRUE(IsWindowVisible(s.box));
    EXPECT_EQ(s.Pixel(15, 20), ink);
    EXPECT_EQ(s.Pixel(80, 20), RGB(255, 255, 255)) << "the uncovered area was not repainted";
}

TEST(PaintPacer, AQueueTooBusyForTimersStillEndsFramesAndHiddenControlsStayHidden)
{
    TScene s;
    const HWND hidden = CreateWindowA("STATIC", "", WS_CHILD, 0, 40, 10, 10, s.owner, nullptr, nullptr, nullptr);
    qm::ui::TPaintPacer pacer(1);
    pacer.SetOwner(s.owner);
    pacer.Changing(s.box);
    pacer.Changing(hidden);
    Sleep(20);
    pacer.Changing(hidden); // the frame is over: what was held is drawn
    EXPECT_TRUE(IsWindowVisible(s.box));
    pacer.Flush();
    EXPECT_FALSE(IsWindowVisible(hidden));
}

TEST(PaintPacer, AControlIsDrawnAtMostOnceAFrame)
{
    TScene s;
    qm::ui::TPaintPacer pacer(60000);
    pacer.SetOwner(s.owner);
    pacer.Changing(s.box);
    pacer.FrameEnded(); // never drawn by the pacer: due at once
    EXPECT_TRUE(IsWindowVisible(s.box));
    EXPECT_TRUE(pacer.Changing(s.box));
    pacer.FrameEnded(); // a timer that came early
    EXPECT_FALSE(IsWindowVisible(s.box));
    pacer.Flush();
    EXPECT_TRUE(IsWindowVisible(s.box));
}

} // namespace
