#include "net/Wait.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// The control drawn into a 32-bit bitmap through WM_PRINTCLIENT, so pixels
// are read back from memory, not from the screen.
class Snapshot {
public:
    explicit Snapshot(const qm::TWait& wait)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = wait.Width();
        info.bmiHeader.biHeight = -wait.Height();
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        SendMessageA(wait.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_), PRF_CLIENT);
    }
    ~Snapshot()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// One visible parent for all cases: under Wine without a window manager,
// destroying a visible top-level window waits two seconds for the X server.
class WaitPaint : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QmWaitPaintParent";
        RegisterClassA(&wc);
        parent = CreateWindowA("QmWaitPaintParent", "paint", WS_POPUP | WS_VISIBLE, 20, 20, 300, 120, nullptr,
                               nullptr, wc.hInstance, nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(parent); }

    static inline HWND parent = nullptr;
    std::unique_ptr<qm::TWait> wait = std::make_unique<qm::TWait>(parent);
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF black = RGB(0, 0, 0);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
};

TEST_F(WaitPaint, FrameAndFullBarAtTheInitialCount)
{
    ASSERT_EQ(wait->Width(), 192);
    ASSERT_EQ(wait->Height(), 32);
    const Snapshot s(*wait); // Caption "60" of 60: bar 185 wide
    EXPECT_EQ(s.At(0, 0), black);
    EXPECT_EQ(s.At(1, 1), white);
    EXPECT_EQ(s.At(3, 3), black);
    EXPECT_EQ(s.At(100, 5), highlight);
    EXPECT_EQ(s.At(186, 5), highlight);
    EXPECT_EQ(s.At(187, 5), black);
    EXPECT_EQ(s.At(188, 5), white);
    EXPECT_EQ(s.At(190, 5), black);
}

TEST_F(WaitPaint, BarShrinksWithTheCount)
{
    // A temporary: GCC 12 -O3 misreports -Wrestrict for a literal assigned here.
    wait->Caption = std::string("30"); // 30 * 185 div 60 = 92
    const Snapshot s(*wait);
    EXPECT_EQ(s.At(93, 5), highlight);
    EXPECT_EQ(s.At(94, 5), black);
    EXPECT_EQ(s.At(100, 5), white);
}

TEST_F(WaitPaint, EmptyBarAtZero)
{
    wait->Caption = std::string("x");
    const Snapshot s(*wait);
    EXPECT_EQ(s.At(4, 5), white);
    EXPECT_EQ(s.At(10, 5), white);
}

TEST_F(WaitPaint, PaintMessageValidatesTheWindow)
{
    InvalidateRect(wait->Handle(), nullptr, TRUE);
    UpdateWindow(wait->Handle());
    EXPECT_FALSE(GetUpdateRect(wait->Handle(), nullptr, FALSE));

    wait->SetVisible(false);
    EXPECT_FALSE(IsWindowVisible(wait->Handle()));
    wait->SetVisible(true);
    EXPECT_TRUE(IsWindowVisible(wait->Handle()));
}

} // namespace
