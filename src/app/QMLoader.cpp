// Program entry. The main window and the download run are not part of the
// program yet: the entry sets up the application object and its title, which
// is all that exists so far, and ends.
#include "ui/Application.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    qm::ui::Application().Title = "Quillmark Loader";
    return 0;
}
