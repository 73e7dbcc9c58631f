#include "ui/Cursor.h"

#include <windows.h>

namespace qm::ui {
namespace {

TCursor& Current()
{
    static TCursor cursor = crDefault;
    return cursor;
}

HCURSOR SystemCursor(TCursor Cursor)
{
    return LoadCursorA(nullptr, Cursor == crHourGlass ? IDC_WAIT : IDC_ARROW);
}

} // namespace

void SetScreenCursor(TCursor Cursor)
{
    Current() = Cursor;
    SetCursor(SystemCursor(Cursor));
}

TCursor ScreenCursor()
{
    return Current();
}

bool ApplyScreenCursor()
{
    if (Current() == crDefault)
        return false;
    SetCursor(SystemCursor(Current()));
    return true;
}

} // namespace qm::ui
