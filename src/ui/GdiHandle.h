// TGdiHandle: one owner for a GDI object (a pen, brush, font, bitmap or
// region), deleted with DeleteObject when the owner goes. The object must
// not be selected into a device context by then.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace qm::ui {

struct TGdiDeleter {
    void operator()(HGDIOBJ Object) const noexcept { DeleteObject(Object); }
};

template <class H>
using TGdiHandle = std::unique_ptr<std::remove_pointer_t<H>, TGdiDeleter>;

} // namespace qm::ui
