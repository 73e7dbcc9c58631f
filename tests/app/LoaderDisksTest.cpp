// Make Disks: what lands on drive A: by the time of each prompt, the
// "Disk2" marker, Cancel at the prompt, a failed copy, an empty list, no
// drive A: and a full diskette.
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
constexpr const char* Filler = "a.txt"; // the full diskette's file

// Starts the Unix program Command (a Z: path and its arguments) and does not
// wait: Wine gives no handle that ends with it, so callers poll its effect.
void StartUnix(std::string Command)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, Command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// Polls Done every 50 ms for up to 5 s.
template <class F>
bool Eventually(F Done)
{
    for (int i = 0; i < 100; ++i) {
        if (Done())
            return true;
        Sleep(50);
    }
    return false;
}

std::string WinePrefix()
{
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix ? prefix : "";
}

// Maps A: to Floppy; true once a file written through A: shows up there.
bool MapDriveA()
{
    CreateDirectoryA(Floppy, nullptr);
    if (!WinePrefix().empty())
        StartUnix("Z:\\bin\\ln -sfn ../drive_c/qm-floppy " + WinePrefix() + "/dosdevices/a:");
    const std::string probe = std::string(Floppy) + "\\probe";
    return Eventually([&] { // the link appears when ln has run
        if (GetFileAttributesA("A:\\") == INVALID_FILE_ATTRIBUTES)
            return false;
        WriteTextFile("A:\\probe", "p");
        return FileExists(probe) && DeleteFileA(probe.c_str()) != FALSE;
    });
}

bool UnmapDriveA()
{
    StartUnix("Z:\\bin\\rm -f " + WinePrefix() + "/dosdevices/a:");
    return Eventually([] { return GetFileAttributesA("A:\\") == INVALID_FILE_ATTRIBUTES; });
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

// Makes A:\Name a file that takes no byte (a Unix link to /dev/full, which
// only a Unix rm removes), or removes it.
bool FillDiskette(const std::string& Name, bool Full)
{
    const std::string link = WinePrefix() + "/drive_c/qm-floppy/" + Name;
    StartUnix(Full ? "Z:\\bin\\ln -sfn /dev/full " + link : "Z:\\bin\\rm -f " + link);
    return Eventually([&] {
        const std::vector<std::string> names = OnDiskette();
        return (std::find(names.begin(), names.end(), Name) != names.end()) == Full;
    });
}

// Drive A: during a case: a diskette in it, no drive at all, or a diskette
// with no room left (its first file cannot take a byte).
enum class TDrive { Mapped, Unmapped, Full };

// Puts drive A: into the condition Drive (Before), or back to a mapped
// diskette without the filler file (after).
bool PrepareDrive(TDrive Drive, bool Before)
{
    switch (Drive) {
    case TDrive::Unmapped:
        return Before ? UnmapDriveA() : MapDriveA();
    case TDrive::Full:
        return FillDiskette(Filler, Before);
    case TDrive::Mapped:
        break;
    }
    return true;
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
    TDrive Drive;
};

const char* const Title = "Quillmark Loader";
const char* const Need = "You need two blank 1.44 MB diskettes.";
const char* const Other = "Label the other diskette \"Quillmark Veldra Disk2,\"";
const char* const Change = "Insert another blank disk and click OK when ready.";

TEST_F(LoaderRunTest, MakeDisksFillsTheDiskettesInListOrder)
{
    ASSERT_TRUE(MapDriveA()) << "drive A: could not be mapped to " << Floppy;
    // A filler link left by a run that stopped half-way: Windows cannot
    // delete it, and reading it never ends.
    ASSERT_TRUE(FillDiskette(Filler, false)) << "a link to /dev/full is left in " << Floppy;
    const TNames marked{"setup.exe", "a.txt", "Disk2.id", "b.txt"};
    const TNames unmarked{"setup.exe", "a.txt", "disk2.txt", "b.txt"}; // the marker's case counts
    const TDiskCase cases[] = {
        {"marker", marked, {IDOK, IDOK}, "",
         {{Title, Need, {}}, {"Change Disk", Change, {"a.txt"}}, {Title, Other, {"Disk2.id", "a.txt", "b.txt"}},
          {Title, "Finished.", {"Disk2.id", "a.txt", "b.txt", "setup.exe"}}},
         "Finished", "&Close", ui::crDefault, TDrive::Mapped},
        {"no marker", unmarked, {}, "",
         {{Title, Need, {}}, {Title, Other, {"a.txt", "b.txt", "disk2.txt"}},
          {Title, "Finished.", {"a.txt", "b.txt", "disk2.txt", "setup.exe"}}},
         "Finished", "&Close", ui::crDefault, TDrive::Mapped},
        {"cancel at the prompt", marked, {IDOK, IDCANCEL}, "",
         {{Title, Need, {}}, {"Change Disk", Change, {"a.txt"}}},
         "Copying Disk1...", "&Make Disks", ui::crHourGlass, TDrive::Mapped},
        {"first diskette copy fails", unmarked, {}, "b.txt",
         {{Title, Need, {}}, {Title, "Copy failed.", {"a.txt", "disk2.txt"}}},
         "Copying Disk1...", "&Make Disks", ui::crDefault, TDrive::Mapped},
        {"second diskette copy fails", unmarked, {}, "setup.exe",
         {{Title, Need, {}}, {Title, Other, {"a.txt", "b.txt", "disk2.txt"}},
          {Title, "Copy failed.", {"a.txt", "b.txt", "disk2.txt"}}},
         "Copying Disk2...", "&Make Disks", ui::crDefault, TDrive::Mapped},
        {"empty list", {}, {}, "",
         {{Title, "The file list is empty: there is nothing to copy.", {}}},
         "Ready", "&Make Disks", ui::crDefault, TDrive::Mapped},
        {"no drive A:", unmarked, {}, "",
         {{Title, Need, {}}, {Title, "Copy failed.", {}}},
         "Copying Disk1...", "&Make Disks", ui::crDefault, TDrive::Unmapped},
        {"diskette full", unmarked, {}, "",
         {{Title, Need, {"a.txt"}}, {Title, "Copy failed.", {"a.txt"}}},
         "Copying Disk1...", "&Make Disks", ui::crDefault, TDrive::Full},
    };
    for (const TDiskCase& c : cases) {
        SCOPED_TRACE(c.Name);
        RemoveTree(Floppy);
        CreateDirectoryA(Floppy, nullptr);
        std::vector<std::string> lines;
        for (const std::string& target : c.Targets) {
            WriteTextFile(Prog(target), target);
            lines.push_back(ListLine(target, "1", "1", target, Prog(target), ""));
        }
        WriteTextFile(Prog("list.txt"), ListText(lines));
        ASSERT_FALSE(Form->Run.LoadFileList());
        if (*c.Missing)
            DeleteFileA(Prog(c.Missing).c_str());
        Form->LStat.SetCaption("Ready");
        Form->SetWindowState(TaForm::TWindowState::Complete);
        Boxes.Shown.clear();
        Boxes.Answers = c.Answers;
        std::vector<std::tuple<std::string, std::string, TNames>> seen;
        Boxes.OnShow = [&](const TShownBox& Box) {
            if (Box.Caption == "Change Disk") {
                EXPECT_EQ(Box.Flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION));
            }
            seen.emplace_back(Box.Caption, Box.Text.substr(0, Box.Text.find('\r')), OnDiskette());
        };
        ASSERT_TRUE(PrepareDrive(c.Drive, true)) << "drive A: could not be unmapped or filled";
        Form->SBCancel.Click();
        ASSERT_TRUE(PrepareDrive(c.Drive, false)) << "drive A: could not be mapped again or emptied";
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

// The window closed while a Make Disks message is shown: Make Disks ends at
// once, shows nothing more, and the close is finished after it (the list is
// released only then).
TEST_F(LoaderRunTest, ClosingDuringAMakeDisksPromptEndsCleanly)
{
    ASSERT_TRUE(MapDriveA()) << "drive A: could not be mapped to " << Floppy;
    CreateDirectoryA(Floppy, nullptr);
    const TNames targets{"setup.exe", "a.txt", "Disk2.id"};
    std::vector<std::string> lines;
    for (const std::string& target : targets) {
        WriteTextFile(Prog(target), target);
        lines.push_back(ListLine(target, "1", "1", target, Prog(target), ""));
    }
    for (const char* prompt : {Need, Change, Other}) {
        SCOPED_TRACE(prompt);
        Restart();
        WriteTextFile(Prog("list.txt"), ListText(lines));
        ASSERT_FALSE(Form->Run.LoadFileList());
        Form->SetWindowState(TaForm::TWindowState::Complete);
        Boxes.Shown.clear();
        Boxes.Answers = {IDOK, IDOK}; // the first message, then "Change Disk"
        Boxes.OnShow = [&](const TShownBox& Box) {
            if (Box.Text.starts_with(prompt))
                Form->Close();
        };
        Form->SBCancel.Click();
        EXPECT_TRUE(Form->Closed());
        ASSERT_FALSE(Boxes.Shown.empty());
        EXPECT_TRUE(Boxes.Shown.back().Text.starts_with(prompt));
    }
    Boxes.OnShow = nullptr;
    RemoveTree(Floppy);
}

} // namespace
} // namespace qm::test
