#include "net/Wait.h"

#include "base/Events.h"
#include "base/Exception.h"
#include "ui/Application.h"

#include <climits>

namespace qm {
namespace {

constexpr char ClassName[] = "QmWaitControl";
constexpr UINT_PTR TimerId = 1;

// The leading decimal number of a caption: blanks skipped, digits up to the
// first non-digit, 0 when there are none. Saturates instead of overflowing.
int LeadingNumber(const std::string& text)
{
    std::size_t i = text.find_first_not_of(" \t");
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(value);
}

HFONT CreateCaptionFont()
{
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_DONTCARE, "Courrier");
}

// Selects a drawing object into a device context for one scope.
class TSelection {
public:
    TSelection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~TSelection() { SelectObject(dc_, old_); }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

class TPaintScope {
public:
    explicit TPaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
    ~TPaintScope() { EndPaint(hwnd_, &ps_); }
    TPaintScope(const TPaintScope&) = delete;
    TPaintScope& operator=(const TPaintScope&) = delete;
    HDC Dc() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

} // namespace

TCustomWait::TCustomWait(HWND Parent)
    : pen_(CreatePen(PS_SOLID, 1, RGB(0, 0, 0))), font_(CreateCaptionFont()), shown_(Parent != nullptr)
{
    if (!pen_ || !font_)
        throw Exception("Cannot create the wait control's drawing objects");
    const ui::TWindowClass windowClass{.Name = ClassName,
                                       .Style = CS_HREDRAW | CS_VREDRAW,
                                       .Cursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)),
                                       .Background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)};
    try {
        window_ = ui::CreateOwnedWindow(*this, windowClass,
                                        {.Style = shown_ ? DWORD{WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS} : DWORD{0},
                                         .Width = width_,
                                         .Height = height_,
                                         .Parent = shown_ ? Parent : HWND_MESSAGE});
    } catch (const Exception&) {
        throw Exception("Cannot create the wait control's window");
    }
}

TCustomWait::~TCustomWait()
{
    // The holders forget the control while it is still whole.
    for (auto& [key, removed] : std::exchange(freeNotifications_, {}))
        if (removed)
            removed();
    window_.reset();
}

void TCustomWait::FreeNotification(const void* Key, std::function<void()> Removed)
{
    RemoveFreeNotification(Key);
    freeNotifications_.emplace_back(Key, std::move(Removed));
}

void TCustomWait::RemoveFreeNotification(const void* Key)
{
    std::erase_if(freeNotifications_, [Key](const auto& entry) { return entry.first == Key; });
}

void TCustomWait::SetBounds(int Left, int Top, int Width, int Height)
{
    width_ = Width;
    height_ = Height;
    MoveWindow(Handle(), Left, Top, Width, Height, TRUE);
}

void TCustomWait::SetInterval(std::uint16_t Value)
{
    interval_ = Value;
    if (running_)
        SetTimerEnabled(true); // the same timer id: restarts with the new period
}

void TCustomWait::SetVisible(bool Value)
{
    visible_ = Value;
    if (shown_)
        ShowWindow(Handle(), Value ? SW_SHOWNA : SW_HIDE);
}

void TCustomWait::SetTimerEnabled(bool enabled)
{
    if (enabled) {
        // Without its window a timer would tick nowhere and never time out.
        if (!Handle())
            throw Exception("The wait control's window is gone");
        if (!SetTimer(Handle(), TimerId, interval_, nullptr))
            throw Exception("Not enough timers available");
    } else {
        KillTimer(Handle(), TimerId);
    }
    running_ = enabled;
}

void TCustomWait::StartCountdown()
{
    InitialCount = LeadingNumber(Caption);
    if (InitialCount == 0) {
        InitialCount = 15;
        Caption = "15";
    }
    SetTimerEnabled(true);
    Fire(OnWaitStart, *this);
}

void TCustomWait::StopCountdown()
{
    ModalResult = mrOk;
    SetTimerEnabled(false);
    Caption = std::to_string(InitialCount);
    Fire(OnWaitStop, *this);
}

void TCustomWait::RestoreCaption()
{
    Caption = std::to_string(InitialCount);
}

void TCustomWait::Tick()
{
    const int count = LeadingNumber(Caption) - 1;
    Fire(OnWait, *this, count);
    // A handler that stopped the countdown has had the last word: its stop
    // already set the result and restored the caption.
    if (running_ && count > 0) {
        Caption = std::to_string(count);
    } else if (running_) {
        SetTimerEnabled(false);
        ModalResult = mrCancel;
        Caption = std::to_string(InitialCount);
        Fire(OnTimeout, *this);
    }
    InvalidateRect(Handle(), nullptr, FALSE);
}

void TCustomWait::WaitModal()
{
    const ui::TMessageHookGuard hook([this](MSG& msg) { return InputFilter(msg); });
    ModalResult = mrNone;
    StartCountdown();
    while (running_) {
        Fire(OnWaiting, *this);
        ui::Application().ProcessMessages();
    }
}

bool TCustomWait::InputFilter(MSG& Msg)
{
    switch (Msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        Beep();
        return true;
    default:
        return false;
    }
}

void TCustomWait::Beep()
{
    MessageBeep(0);
}

void TCustomWait::SelectBrushColor(COLORREF color)
{
    if (brush_ && brushColor_ == color)
        return;
    brush_.reset(CreateSolidBrush(color));
    brushColor_ = color;
}

// A rectangle outlined with the pen and filled with the brush, as wide as
// Rectangle draws it (right and bottom excluded).
void TCustomWait::Box(HDC dc, COLORREF fill, int left, int top, int right, int bottom)
{
    SelectBrushColor(fill);
    const TSelection brush(dc, brush_.get());
    Rectangle(dc, left, top, right, bottom);
}

void TCustomWait::Paint(HDC DC)
{
    RECT client;
    GetClientRect(Handle(), &client);
    const int width = client.right;
    const int height = client.bottom;
    const long long count = LeadingNumber(Caption);
    const int bar = InitialCount > 0 ? static_cast<int>(count * (width - 7) / InitialCount) : 0;
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);

    const TSelection pen(DC, pen_.get());
    const TSelection font(DC, font_.get());
    Box(DC, RGB(255, 255, 255), 0, 0, width - 1, height - 1);
    Box(DC, highlight, 3, 3, bar + 3, height - 4);
    // The text stands on the bar's colour, as a solid brush leaves it.
    SetBkMode(DC, OPAQUE);
    SetBkColor(DC, highlight);
    SetTextColor(DC, GetSysColor(COLOR_WINDOWTEXT));
    TextOutA(DC, 4, height / 2 - 8, Caption.data(), static_cast<int>(Caption.size()));
}

LRESULT TCustomWait::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_TIMER:
        // A tick already queued when the countdown stopped is stale.
        if (wParam == TimerId && running_)
            Tick();
        return 0;
    case WM_PAINT: {
        const TPaintScope paint(hwnd);
        Paint(paint.Dc());
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_NCDESTROY:
        // Destroyed with its parent: forget the handle; nothing is left to
        // destroy (the window helper has unbound it already).
        if (window_.get() == hwnd)
            static_cast<void>(window_.release());
        running_ = false;
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace qm
