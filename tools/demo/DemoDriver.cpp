// Drives a running QMLoader.exe through the demo as a user would: it finds
// the windows by caption and class, presses their buttons (BM_CLICK posted to
// the button, as a mouse click does), answers each message box by pressing
// its button, and saves a picture of the screen (BMP) at every step.
//
//   demo-driver first  SHOTDIR   Start, Install, Make Disks, Close
//   demo-driver second SHOTDIR   Start again (resume), close with deletion
//   demo-driver tampered SHOTDIR Start with a file altered on the server: the
//                                loader refuses it; Cancel, Close
//   demo-driver start SHOTDIR    Start only: the caller kills the loader while
//                                it transfers (tests/app/kill_test.sh)
//   demo-driver resume SHOTDIR   Start, "Transfer finished.", close keeping
//                                the downloaded files
//
// Every expected box is checked by its caption and the start of its text; a
// box that is not the expected one (a "Failed : ..." message) ends the drive.
// Exit status 0 when every step happened, 1 otherwise; each step is printed.
#include "ScreenPicture.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>
#include <string>
#include <vector>

namespace {

const char* const LoaderCaption = "Quillmark Loader";
std::string ShotDir;
int ShotNumber = 0;

class EDriveFailed {
public:
    std::string Message;
};

std::string TextOf(HWND Wnd)
{
    char text[2048] = {};
    GetWindowTextA(Wnd, text, sizeof text);
    return text;
}

std::string ClassOf(HWND Wnd)
{
    char name[256] = {};
    GetClassNameA(Wnd, name, sizeof name);
    return name;
}

std::vector<HWND> TopWindows()
{
    std::vector<HWND> all;
    EnumWindows(
        [](HWND w, LPARAM p) {
            if (IsWindowVisible(w))
                reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> Children(HWND Parent)
{
    std::vector<HWND> all;
    EnumChildWindows(
        Parent,
        [](HWND w, LPARAM p) {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

// Polls Find every 100 ms for up to Seconds; fails naming What.
template <class F>
HWND WaitFor(const std::string& What, F Find, int Seconds = 60)
{
    for (int i = 0; i < Seconds * 10; ++i) {
        if (HWND w = Find())
            return w;
        Sleep(100);
    }
    throw EDriveFailed{"timed out waiting for " + What};
}

HWND FindTop(const std::string& Caption, bool Dialog)
{
    for (HWND w : TopWindows())
        if (TextOf(w) == Caption && (ClassOf(w) == "#32770") == Dialog)
            return w;
    return nullptr;
}

HWND MainWindow()
{
    return WaitFor("the main window", [] { return FindTop(LoaderCaption, false); });
}

HWND ChildWithText(HWND Parent, const std::string& Text)
{
    for (HWND w : Children(Parent))
        if (TextOf(w) == Text)
            return w;
    return nullptr;
}

// The text of a message box: its longest static text.
std::string BoxText(HWND Box)
{
    std::string text;
    for (HWND w : Children(Box))
        if (ClassOf(w) == "Static" && TextOf(w).size() > text.size())
            text = TextOf(w);
    return text;
}

// Saves the whole screen as SHOTDIR\NN-Name.bmp after letting it repaint.
void Shot(const std::string& Name)
{
    Sleep(400);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    char number[8];
    std::snprintf(number, sizeof number, "%02d-", ++ShotNumber);
    if (!qm::tools::SaveScreenPicture(screen, ShotDir + "\\" + number + Name + ".bmp"))
        std::printf("  screenshot %s%s could not be saved\n", number, Name.c_str());
    else
        std::printf("  screenshot %s%s\n", number, Name.c_str());
}

void Click(HWND Button)
{
    PostMessageA(Button, BM_CLICK, 0, 0);
}

void ClickButton(const std::string& Caption)
{
    const HWND main = MainWindow();
    const HWND button = WaitFor("the button " + Caption, [&] {
        const HWND b = ChildWithText(main, Caption);
        return b && IsWindowEnabled(b) ? b : nullptr;
    });
    std::printf("press %s\n", Caption.c_str());
    Click(button);
}

// Waits for the box with Caption, checks that its text starts with Text,
// takes its picture and presses the button ButtonId.
void Answer(const std::string& Caption, const std::string& Text, int ButtonId, const std::string& ShotName)
{
    const HWND box = WaitFor("the message box \"" + Text + "\"", [&] { return FindTop(Caption, true); });
    Sleep(200);
    const std::string shown = BoxText(box);
    std::printf("box   [%s] %s\n", Caption.c_str(), shown.substr(0, shown.find('\r')).c_str());
    Shot(ShotName);
    if (shown.rfind(Text, 0) != 0)
        throw EDriveFailed{"expected the box \"" + Text + "\", got \"" + shown + "\""};
    Click(GetDlgItem(box, ButtonId));
    WaitFor("the box to close", [&] { return IsWindow(box) && IsWindowVisible(box) ? nullptr : HWND(1); }, 20);
}

void WaitState(const std::string& StartCaption, const std::string& CancelCaption)
{
    const HWND main = MainWindow();
    WaitFor("the state " + StartCaption + " / " + CancelCaption, [&] {
        const HWND start = ChildWithText(main, StartCaption);
        return start && IsWindowEnabled(start) && ChildWithText(main, CancelCaption) ? start : nullptr;
    });
}

void WaitClosed()
{
    WaitFor("the main window to close", [] { return FindTop(LoaderCaption, false) ? nullptr : HWND(1); }, 30);
    std::printf("the main window has closed\n");
}

void FirstRun()
{
    WaitState("&Start", "&Close");
    Shot("idle");
    ClickButton("&Start");
    Answer(LoaderCaption, "Transfer finished.", IDOK, "transfer-finished");
    WaitState("&Install QM", "&Make Disks");
    Shot("complete");
    ClickButton("&Install QM");
    Answer("Quillmark Veldra Setup (demo)", "", IDOK, "setup-program");
    ClickButton("&Make Disks");
    Answer(LoaderCaption, "You need two blank 1.44 MB diskettes.", IDOK, "disk1-prompt");
    Answer("Change Disk", "Insert another blank disk", IDOK, "change-disk");
    Answer(LoaderCaption, "Label the other diskette", IDOK, "disk2-prompt");
    Answer(LoaderCaption, "Finished.", IDOK, "disks-finished");
    WaitState("&Install QM", "&Close");
    Shot("disks-written");
    ClickButton("&Close");
    Answer(LoaderCaption, "Now you can run Quillmark.", IDOK, "goodbye");
    WaitClosed();
}

// Start again, "Transfer finished.", then close from the title bar and
// answer the deletion prompt with DeleteAnswer (IDYES or IDNO).
void ResumeAndClose(int DeleteAnswer)
{
    WaitState("&Start", "&Close");
    ClickButton("&Start");
    Answer(LoaderCaption, "Transfer finished.", IDOK, "resume-finished");
    WaitState("&Install QM", "&Make Disks");
    std::printf("close the window (title bar)\n");
    PostMessageA(MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Answer("Confirm", "Do you wish to delete the downloaded files?", DeleteAnswer,
           DeleteAnswer == IDYES ? "delete-prompt" : "keep-prompt");
    WaitClosed();
}

void TamperedRun()
{
    WaitState("&Start", "&Close");
    ClickButton("&Start");
    Answer(LoaderCaption, "Failed : 200 The file was damaged or altered on its way", IDOK, "tampered-file-refused");
    ClickButton("&Cancel");
    WaitState("&Start", "&Close");
    ClickButton("&Close");
    WaitClosed();
}

void StartOnly()
{
    WaitState("&Start", "&Close");
    ClickButton("&Start");
    WaitFor("the transfer to start", [] { return ChildWithText(MainWindow(), "&Cancel"); });
}

} // namespace

int main(int argc, char** argv)
{
    const std::string phase = argc == 3 ? argv[1] : "";
    const std::pair<const char*, void (*)()> phases[] = {
        {"first", FirstRun},
        {"second", [] { ResumeAndClose(IDYES); }},
        {"tampered", TamperedRun},
        {"start", StartOnly},
        {"resume", [] { ResumeAndClose(IDNO); }}};
    const auto* chosen = std::find_if(std::begin(phases), std::end(phases),
                                      [&](const auto& p) { return phase == p.first; });
    if (chosen == std::end(phases)) {
        std::fputs("usage: demo-driver first|second|tampered|start|resume SHOTDIR\n", stderr);
        return 2;
    }
    ShotDir = argv[2];
    ShotNumber = static_cast<int>(chosen - std::begin(phases)) * 20;
    try {
        chosen->second();
    } catch (const EDriveFailed& e) {
        Shot("failure");
        std::fprintf(stderr, "demo-driver: %s\n", e.Message.c_str());
        return 1;
    }
    return 0;
}
