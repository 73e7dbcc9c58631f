// Make Disks: what lands on drive A: by the time of each prompt, the
// "Disk2" marker, Cancel at the prompt, a failed copy and an empty list.
//
// Drive A: is a real drive: under Wine, $WINEPREFIX/dosdevices/a: is made a
// link to C:\qm-floppy by a Unix ln started from here (Wine starts a Unix
// program given by its Z: path).
#include "LoaderRunFixture.h"

#include <algorithm>
#include <cstdlib>

namespace qm::test {
namespace {

constexpr const char* Floppy = "C:\\qm-floppy";

// Maps A: to Floppy; true once a file written through A: shows up there.
bool MapDriveA()
{
    CreateDirectoryA(Floppy, nullptr);
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix) {
        std::string command = std::string("Z:\\bin\\ln -sfn ../drive_c/qm-floppy ") + prefix + "/dosdevices/a:";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    const std::string probe = std::string(Floppy) + "\\probe";
    for (int i = 0; i < 100; ++i) { // the link appears when ln has run
        WriteTextFile("A:\\probe", "p");
        if (FileExists(probe))
            return DeleteFileA(probe.c_str()) != FALSE;
        Sleep(50);
    }
    return false;
}

std::vector<std::string> OnDiskette()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA("A:\\*", &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.emplace_back(entry.cFileName);
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    return names;
}

using TNames = std::vector<std::string>;

struct TDiskCase {
    const char* Name;
    TNames Targets;       // field 4 of each line, in the download directory
    std::deque<int> Answers;
    const char* Missing;  // a target removed before Make Disks, or ""
    // Each box shown: caption, first line of its text, what A: held then.
    std::vector<std::tuple<std::string, std::string, TNames>> Boxes;
    const char* Stat;     // LStat afterwards
    const char* Cancel;   // SBCancel afterwards
    ui::TCursor Cursor;
};

const char* const Title = "Quillmark Loader";
const char* const Need = "You need two blank 1.44 MB diskettes.";
const char* const Other = "Label the other diskette \"Quillmark Veldra Disk2,\"";
const char* const Change = "Insert another blank disk and click OK when ready.";

TEST_F(LoaderRunTest, MakeDisksFillsTheDiskettesInListOrder)
{
    ASSERT_TRUE(MapDriveA()) << "drive A: could not be mapped to " << Floppy;
    const TNames marked{"setup.exe", "a.txt", "Disk2.id", "b.txt"};
    const TNames unmarked{"setup.exe", "a.txt", "disk2.txt", "b.txt"}; // the marker's case counts
    const TDiskCase cases[] = {
        {"marker", marked, {IDOK, IDOK}, "",
         {{Title, Need, {}}, {"Change Disk", Change, {"a.txt"}}, {Title, Other, {"Disk2.id", "a.txt", "b.txt"}},
          {Title, "Finished.", {"Disk2.id", "a.txt", "b.txt", "setup.exe"}}},
         "Finished", "&Close", ui::crDefault},
        {"no marker", unmarked, {}, "",
         {{Title, Need, {}}, {Title, Other, {"a.txt", "b.txt", "disk2.txt"}},
          {Title, "Finished.", {"a.txt", "b.txt", "disk2.txt", "setup.exe"}}},
         "Finished", "&Close", ui::crDefault},
        {"cancel at the prompt", marked, {IDOK, IDCANCEL}, "",
         {{Title, Need, {}}, {"Change Disk", Change, {"a.txt"}}},
         "Copying Disk1...", "&Make Disks", ui::crHourGlass},
        {"first diskette copy fails", unmarked, {}, "b.txt",
         {{Title, Need, {}}, {Title, "Copy failed.", {"a.txt", "disk2.txt"}}},
         "Copying Disk1...", "&Make Disks", ui::crDefault},
        {"second diskette copy fails", unmarked, {}, "setup.exe",
         {{Title, Need, {}}, {Title, Other, {"a.txt", "b.txt", "disk2.txt"}},
          {Title, "Copy failed.", {"a.txt", "b.txt", "disk2.txt"}}},
         "Copying Disk2...", "&Make Disks", ui::crDefault},
        {"empty list", {}, {}, "",
         {{Title, "The file list is empty: there is nothing to copy.", {}}},
         "Ready", "&Make Disks", ui::crDefault},
    };
    for (const TDiskCase& c : cases) {
        SCOPED_TRACE(c.Name);
        RemoveTree(Floppy);
        CreateDirectoryA(Floppy, nullptr);
        Form->FileList.Clear();
        for (const std::string& target : c.Targets) {
            WriteTextFile(Prog(target), target);
            Form->FileList.Add(ListLine(target, "1", "1", target, Prog(target), ""));
        }
        if (*c.Missing)
            DeleteFileA(Prog(c.Missing).c_str());
        Form->LStat.SetCaption("Ready");
        Form->SBCancel.SetCaption("&Make Disks"); // the complete state
        Boxes.Shown.clear();
        Boxes.Answers = c.Answers;
        std::vector<std::tuple<std::string, std::string, TNames>> seen;
        Boxes.OnShow = [&](const TShownBox& Box) {
            if (Box.Caption == "Change Disk") {
                EXPECT_EQ(Box.Flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION));
            }
            seen.emplace_back(Box.Caption, Box.Text.substr(0, Box.Text.find('\r')), OnDiskette());
        };
        Form->SBCancel.Click();
        EXPECT_EQ(seen, c.Boxes);
        EXPECT_EQ(Form->LStat.Caption(), c.Stat);
        EXPECT_EQ(Form->SBCancel.Caption(), c.Cancel);
        EXPECT_EQ(ui::ScreenCursor(), c.Cursor);
        for (const std::string& name : OnDiskette()) // the targets themselves
            EXPECT_EQ(ReadWholeFile("A:\\" + name), name);
    }
    Boxes.OnShow = nullptr;
    RemoveTree(Floppy);
}

} // namespace
} // namespace qm::test
