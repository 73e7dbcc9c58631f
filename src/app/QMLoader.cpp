// Program entry: the application object and its title, the main window, the
// proxy dialog, and the message loop until the main window has closed.
#include "app/Loader.h"
#include "app/proxyset.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

namespace {

int RunProgram()
{
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    qm::ui::TApplication& app = qm::ui::Application();
    app.Title = "Quillmark Loader";
    qm::TaForm aForm(qm::BuiltInServerBaseURL());
    qm::TSetupForm SetupForm(aForm.Handle());
    aForm.SetupForm = &SetupForm;
    // The proxy dialog puts its own keys in front while it is shown.
    app.SetOnMessage([&aForm](MSG& Msg) { return aForm.HandleDialogKeys(Msg); });
    aForm.Show();
    while (!aForm.Closed() && !app.Terminated()) {
        try {
            app.HandleMessage();
        } catch (const std::exception& e) {
            // An error no handler caught: say so and go on, as the loop must.
            qm::ui::ShowMessageBox(aForm.Handle(), e.what(), app.Title, MB_OK | MB_ICONSTOP);
        }
    }
    app.SetOnMessage(nullptr);
    aForm.SetupForm = nullptr;
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        return RunProgram();
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, e.what(), "Quillmark Loader", MB_OK | MB_ICONSTOP);
        return 1;
    }
}
