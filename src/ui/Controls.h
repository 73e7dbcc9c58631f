// Thin wrappers over the control messages the program's windows use. Each
// wrapper holds the handle of a child control and does not own it: the
// control dies with its parent window. A default-constructed wrapper holds
// no control and must not be used before a handle is assigned.
#pragma once

#include "ui/SpeedButton.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace qm::ui {

inline std::string WindowText(HWND Wnd)
{
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(Wnd)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(Wnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

class TControl {
public:
    TControl() = default;
    explicit TControl(HWND Wnd) : handle_(Wnd) {}

    HWND Handle() const { return handle_; }
    bool Enabled() const { return IsWindowEnabled(handle_) != FALSE; }
    void SetEnabled(bool Value) { EnableWindow(handle_, Value ? TRUE : FALSE); }
    bool Visible() const { return IsWindowVisible(handle_) != FALSE; }
    void SetFocus() { ::SetFocus(handle_); }
    bool Focused() const { return GetFocus() == handle_; }
    // Paints what is invalid now, without waiting for the queue.
    void Repaint()
    {
        InvalidateRect(handle_, nullptr, TRUE);
        UpdateWindow(handle_);
    }
    // Left, top, width and height in the parent's client pixels.
    RECT Bounds() const
    {
        RECT r{};
        GetWindowRect(handle_, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(handle_), reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }

protected:
    std::string GetText() const { return WindowText(handle_); }
    void PutText(const std::string& Value) { SetWindowTextA(handle_, Value.c_str()); }

private:
    HWND handle_ = nullptr;
};

// A static text. One created with SS_LEFTNOWORDWRAP sizes its width to its
// caption whenever the caption is set (so a longer status word is not cut).
class TLabel : public TControl {
public:
    using TControl::TControl;
    std::string Caption() const { return GetText(); }
    enum class TFit : std::uint8_t { Now, Later };
    // Later leaves the width to a FitToCaption before the label is drawn
    // again (while it is off the screen, fitting it at every change is waste).
    void SetCaption(const std::string& Value, TFit Fit = TFit::Now)
    {
        PutText(Value);
        if (Fit == TFit::Now)
            FitToCaption();
    }
    void FitToCaption()
    {
        if ((GetWindowLongPtrA(Handle(), GWL_STYLE) & SS_TYPEMASK) == SS_LEFTNOWORDWRAP)
            FitWidth(Caption());
    }

private:
    void FitWidth(const std::string& Value)
    {
        const HDC dc = GetDC(Handle());
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0)));
        SIZE extent{};
        GetTextExtentPoint32A(dc, Value.c_str(), static_cast<int>(Value.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(Handle(), dc);
        const RECT r = Bounds();
        // A label taken off the screen is drawn whole when it comes back.
        const UINT unseen = IsWindowVisible(Handle()) ? 0 : SWP_NOREDRAW | SWP_NOCOPYBITS;
        SetWindowPos(Handle(), nullptr, 0, 0, extent.cx, r.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | unseen);
    }
};

// The program's own speed button (SpeedButton.h): takes no keyboard focus;
// Click() presses it as a mouse click would (nothing when disabled).
class TSpeedButton : public TControl {
public:
    using TControl::TControl;
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& Value) { PutText(Value); }
    void Click() { SendMessageA(Handle(), BM_CLICK, 0, 0); }
};

// A push button; Click() presses it.
class TButton : public TControl {
public:
    using TControl::TControl;
    std::string Caption() const { return GetText(); }
    void Click() { SendMessageA(Handle(), BM_CLICK, 0, 0); }
};

class TEdit : public TControl {
public:
    using TControl::TControl;
    std::string Text() const { return GetText(); }
    void SetText(const std::string& Value) { PutText(Value); }
};

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    void SetMax(int Value) { SendMessageA(Handle(), PBM_SETRANGE32, 0, Value); }
    void SetPosition(int Value) { SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(Value), 0); }
    int Max() const { return static_cast<int>(SendMessageA(Handle(), PBM_GETRANGE, FALSE, 0)); }
    int Min() const { return static_cast<int>(SendMessageA(Handle(), PBM_GETRANGE, TRUE, 0)); }
    int Position() const { return static_cast<int>(SendMessageA(Handle(), PBM_GETPOS, 0, 0)); }
};

// Owns an image list.
class TImageList {
public:
    TImageList() = default;
    explicit TImageList(HIMAGELIST List) : list_(List) {}
    HIMAGELIST Handle() const { return list_.get(); }
    int Count() const { return ImageList_GetImageCount(list_.get()); }

private:
    struct TDestroy {
        void operator()(HIMAGELIST List) const noexcept { ImageList_Destroy(List); }
    };
    std::unique_ptr<_IMAGELIST, TDestroy> list_;
};

// A report-style list view; rows are items, column 1 is their first sub-item.
class TListView : public TControl {
public:
    using TControl::TControl;

    void AddColumn(int Index, const std::string& Caption, int Width, int Format)
    {
        LVCOLUMNA col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = Format;
        col.cx = Width;
        col.pszText = const_cast<char*>(Caption.c_str());
        SendMessageA(Handle(), LVM_INSERTCOLUMNA, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&col));
    }
    int ColumnWidth(int Index) const
    {
        return static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(Index), 0));
    }
    // Appends a row with image 0; returns its index.
    int AddRow(const std::string& Caption, const std::string& Size)
    {
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = Count();
        item.pszText = const_cast<char*>(Caption.c_str());
        const int index = static_cast<int>(SendMessageA(Handle(), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        SetText(index, 1, Size);
        return index;
    }
    int Count() const { return static_cast<int>(SendMessageA(Handle(), LVM_GETITEMCOUNT, 0, 0)); }
    void Clear() { SendMessageA(Handle(), LVM_DELETEALLITEMS, 0, 0); }
    std::string Text(int Row, int Column) const
    {
        char buffer[512] = {};
        LVITEMA item{};
        item.iSubItem = Column;
        item.pszText = buffer;
        item.cchTextMax = sizeof buffer;
        SendMessageA(Handle(), LVM_GETITEMTEXTA, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
    void SetText(int Row, int Column, const std::string& Value)
    {
        LVITEMA item{};
        item.iSubItem = Column;
        item.pszText = const_cast<char*>(Value.c_str());
        SendMessageA(Handle(), LVM_SETITEMTEXTA, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&item));
    }
    int ImageIndex(int Row) const
    {
        LVITEMA item{};
        item.mask = LVIF_IMAGE;
        item.iItem = Row;
        SendMessageA(Handle(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    void SetImageIndex(int Row, int Image)
    {
        LVITEMA item{};
        item.mask = LVIF_IMAGE;
        item.iItem = Row;
        item.iImage = Image;
        SendMessageA(Handle(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    // -1 when no row has the focus.
    int FocusedIndex() const
    {
        return static_cast<int>(SendMessageA(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    }
    // Both ask the list view's parent first (LVN_ITEMCHANGING), which may refuse.
    void Focus(int Row) { SetState(Row, LVIS_FOCUSED, LVIS_FOCUSED); }
    void Select(int Row) { SetState(Row, LVIS_SELECTED, LVIS_SELECTED); }
    bool Selected(int Row) const
    {
        return SendMessageA(Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(Row), LVIS_SELECTED) != 0;
    }
    void DeselectAll() { SetState(-1, 0, LVIS_SELECTED); }
    // A row below the view is scrolled near the view's top, so the rows after
    // it are shown without scrolling again: one scroll per page of rows, not
    // one per row (a scroll repaints the scroll bar and the whole list).
    void ShowPageOf(int Row)
    {
        const auto top = static_cast<int>(SendMessageA(Handle(), LVM_GETTOPINDEX, 0, 0));
        const auto page = std::max(1, static_cast<int>(SendMessageA(Handle(), LVM_GETCOUNTPERPAGE, 0, 0)));
        if (Row < top + page)
            return;
        // Second from the top: the row above it stays in view for an Up key.
        const int last = std::min(std::max(Row, Row + page - 2), Count() - 1);
        SendMessageA(Handle(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(last), FALSE);
    }
    // A key-down with repeat count 1, as the keyboard would send it.
    void SendKeyDown(WPARAM VirtualKey) { SendMessageA(Handle(), WM_KEYDOWN, VirtualKey, 1); }

private:
    void SetState(int Row, UINT State, UINT Mask)
    {
        LVITEMA item{};
        item.stateMask = Mask;
        item.state = State;
        SendMessageA(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&item));
    }
};

} // namespace qm::ui
