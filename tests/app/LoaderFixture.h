// Test fixture for the program's windows: creates the main window (and the
// proxy dialog) in the test process, in a fresh current directory, with every
// seam recording: message boxes are recorded and answered as scripted, and
// program starts (WinExec, ShellExecuteA) are recorded instead of made.
//
// Buttons are pressed by sending them their messages (Click()); actions that
// must happen while a modal loop runs (the proxy dialog, a message box's
// owner loop) are queued with PostAction and run from that loop.
#pragma once

#include "base/ExtraStr.h"
#include "app/Loader.h"
#include "app/proxyset.h"
#include "ui/Application.h"
#include "ui/Cursor.h"
#include "ui/MessageBox.h"
#include "ui/ObjectWindow.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm::test {

// Wine without a window manager (as under Xvfb) waits two seconds for every
// hidden or destroyed top-level window to be "withdrawn" by the manager that
// is not there. Windows that Wine keeps unmanaged are not waited for. The X11
// driver reads the setting when the process starts, before any code of the
// program runs, so this sets it for this executable's later runs (the test
// command runs each window test executable once beforehand for that).
struct TWineUnmanagedWindows {
    TWineUnmanagedWindows()
    {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        const std::string exe = path;
        const std::string key =
            "Software\\Wine\\AppDefaults\\" + exe.substr(exe.find_last_of("\\/") + 1) + "\\X11 Driver";
        HKEY handle;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(handle, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
            RegCloseKey(handle);
        }
    }
};
inline const TWineUnmanagedWindows WineUnmanagedWindows;

struct TShownBox {
    std::string Caption;
    std::string Text;
    UINT Flags;
};

// Records every message box; answers from Answers in order. With no answer
// left, a box with a single OK button gets IDOK and any other box fails the
// test (and gets IDCANCEL, or IDNO for Yes/No). OnShow, when set, runs while
// the box would be up (for example to press a button of the window behind).
class TMessageBoxRecorder {
public:
    TMessageBoxRecorder()
        : seam_([this](HWND, const std::string& Text, const std::string& Caption, UINT Flags) {
              return Answer({Caption, Text, Flags});
          })
    {
    }

    std::vector<TShownBox> Shown;
    std::deque<int> Answers;
    std::function<void(const TShownBox&)> OnShow;

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const TShownBox& box : Shown)
            texts.push_back(box.Text);
        return texts;
    }

private:
    int Answer(const TShownBox& Box)
    {
        Shown.push_back(Box);
        if (OnShow)
            OnShow(Box);
        if (!Answers.empty()) {
            const int answer = Answers.front();
            Answers.pop_front();
            return answer;
        }
        const UINT buttons = Box.Flags & MB_TYPEMASK;
        if (buttons == MB_OK)
            return IDOK;
        ADD_FAILURE() << "unexpected message box \"" << Box.Caption << "\": " << Box.Text;
        return buttons == MB_YESNO ? IDNO : IDCANCEL;
    }

    ui::TMessageBoxSeam seam_;
};

// Runs queued actions from whatever message loop is running (FIFO).
class TPostedActions final : private ui::TWindowOwner {
public:
    TPostedActions()
    {
        ui::TWindowPlace place;
        place.Parent = HWND_MESSAGE;
        window_ = ui::CreateOwnedWindow(*this, {"QmTestPostedActions"}, place);
    }
    void Post(std::function<void()> Action)
    {
        actions_.push_back(std::move(Action));
        PostMessageA(window_.get(), WM_APP, 0, 0);
    }

private:
    LRESULT WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) override
    {
        if (Msg != WM_APP || actions_.empty())
            return DefWindowProcA(Wnd, Msg, WParam, LParam);
        const std::function<void()> action = std::move(actions_.front());
        actions_.pop_front();
        action();
        return 0;
    }

    std::deque<std::function<void()>> actions_;
    ui::TWindowHandle window_;
};

inline std::string CurrentDirectory()
{
    char buffer[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buffer);
    return buffer;
}

// Deletes Path and everything under it.
inline void RemoveTree(const std::string& Path)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((Path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(Path + "\\" + name);
            else
                DeleteFileA((Path + "\\" + name).c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(Path.c_str());
}

inline bool FileExists(const std::string& Path)
{
    return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string NameOnDisk(const std::string& Path)
{
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA(Path.c_str(), &found);
    return find == INVALID_HANDLE_VALUE ? "" : (FindClose(find), std::string(found.cFileName));
}

inline void WriteTextFile(const std::string& Path, const std::string& Content)
{
    const HANDLE file = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Path;
    DWORD written = 0;
    ::WriteFile(file, Content.data(), static_cast<DWORD>(Content.size()), &written, nullptr);
    CloseHandle(file);
}

// A fresh, empty directory under the temporary folder, made the current
// directory while the object lives; removed with everything in it after.
class TTempCurrentDirectory {
public:
    TTempCurrentDirectory() : saved_(CurrentDirectory())
    {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        char name[MAX_PATH] = {};
        GetTempFileNameA(base, "qml", 0, name); // creates the file: make it a directory
        DeleteFileA(name);
        Path = name;
        CreateDirectoryA(Path.c_str(), nullptr);
        SetCurrentDirectoryA(Path.c_str());
    }
    ~TTempCurrentDirectory()
    {
        SetCurrentDirectoryA(saved_.c_str());
        RemoveTree(Path);
    }
    TTempCurrentDirectory(const TTempCurrentDirectory&) = delete;
    TTempCurrentDirectory& operator=(const TTempCurrentDirectory&) = delete;

    std::string Path;

private:
    std::string saved_;
};

struct TShellCall {
    HWND Owner;
    std::string Verb, File;
    bool HasParameters, HasDirectory;
    int ShowCmd;
};

class LoaderTest : public ::testing::Test {
protected:
    // Creates the main window for the server base URL BaseURL (scrambled as
    // the program keeps it) and the proxy dialog, as the program entry does,
    // and shows the main window.
    void CreateForm(const std::string& BaseURL = "http://127.0.0.1:9/veldra/")
    {
        TAppSeams seams = Seams;
        seams.WinExec = [this](const std::string& CommandLine, UINT ShowCmd) {
            WinExecs.push_back(CommandLine);
            WinExecShows.push_back(ShowCmd);
        };
        seams.ShellExecuteA = [this](HWND Owner, const char* Verb, const std::string& File, const char* Parameters,
                                     const char* Directory, int ShowCmd) {
            ShellCalls.push_back({Owner, Verb ? Verb : "", File, Parameters != nullptr, Directory != nullptr, ShowCmd});
        };
        seams.ReleasePublicKey = ReleasePublicKey;
        ui::Application().Title = "Quillmark Loader"; // as the program entry sets it
        Form = std::make_unique<TaForm>(ScrambleText(BaseURL), std::move(seams));
        Form->Run.Retry = Retry;
        Setup = std::make_unique<TSetupForm>(Form->Handle());
        Form->SetupForm = Setup.get();
        Form->Show();
        ui::Application().ProcessMessages();
    }

    void TearDown() override
    {
        if (Form)
            Form->SetupForm = nullptr;
        Setup.reset();
        Form.reset();
        ui::SetScreenCursor(ui::crDefault);
        ui::Application().ProcessMessages();
    }

    // Runs Action from the next message loop that dispatches messages.
    void PostAction(std::function<void()> Action) { Actions.Post(std::move(Action)); }

    TTempCurrentDirectory Dir;
    TMessageBoxRecorder Boxes;
    TPostedActions Actions;
    std::vector<std::string> WinExecs;
    std::vector<UINT> WinExecShows;
    std::vector<TShellCall> ShellCalls;
    // The release public key file's text the next form is created with;
    // empty (the default, whatever the build embeds): no signed list.
    std::string ReleasePublicKey;
    TAppSeams Seams; // for the next form, whose recorders and key CreateForm sets
    // The next form's tries: one, so that each scripted answer is the last
    // word on its request; the retry tests ask for more.
    TRetryPolicy Retry{.Attempts = 1};
    std::unique_ptr<TaForm> Form;
    std::unique_ptr<TSetupForm> Setup;
};

} // namespace qm::test
