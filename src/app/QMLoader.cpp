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

// The main window's keys as in a dialog: Tab between its controls and the
// Alt+letter mnemonics of its buttons. The proxy dialog adds its own while
// it is shown.
bool MainWindowKeys(HWND Form, MSG& Msg)
{
    return (Msg.hwnd == Form || IsChild(Form, Msg.hwnd)) && IsDialogMessageA(Form, &Msg);
}

int RunProgram()
{
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    qm::ui::TApplication& app = qm::ui::Application();
    app.Title = "Quillmark Loader";
    qm::TaForm aForm(qm::BuiltInServerBaseURL());
    qm::TSetupForm SetupForm(aForm.Handle());
    aForm.SetupForm = &SetupForm;
    app.SetOnMessage([form = aForm.Handle()](MSG& Msg) { return MainWindowKeys(form, Msg); });
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
