#include "ScreenPicture.h"

#include <fstream>
#include <memory>
#include <type_traits>

namespace qm::tools {
namespace {

struct ScreenDcRelease {
    void operator()(HDC Dc) const { ReleaseDC(nullptr, Dc); }
};
struct MemoryDcDelete {
    void operator()(HDC Dc) const { DeleteDC(Dc); }
};
struct BitmapDelete {
    void operator()(HBITMAP Bitmap) const { DeleteObject(Bitmap); }
};
using TScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcRelease>;
using TMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDelete>;
using TBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDelete>;

} // namespace

bool SaveScreenPicture(const RECT& Area, const std::string& Path)
{
    const int width = Area.right - Area.left, height = Area.bottom - Area.top;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    info.biSizeImage = static_cast<DWORD>((width * 3 + 3) & ~3) * static_cast<DWORD>(height);
    void* bits = nullptr;
    const TScreenDc screen(GetDC(nullptr));
    const TMemoryDc memory(CreateCompatibleDC(screen.get()));
    const TBitmap picture(
        CreateDIBSection(screen.get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen || !memory || !picture || !bits)
        return false;
    const HGDIOBJ old = SelectObject(memory.get(), picture.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), Area.left, Area.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory.get(), old); // the bitmap must leave the DC before it is deleted

    const BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof file + sizeof info + info.biSizeImage), 0, 0,
                                static_cast<DWORD>(sizeof file + sizeof info)};
    std::ofstream out(Path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(info.biSizeImage));
    return out.good();
}

} // namespace qm::tools
