// The main window as a user meets it: layout, captions, fonts and states,
// the download directory, the mail link and the close prompt.
#include "LoaderFixture.h"

#include <commctrl.h>

#include <string>

namespace qm::test {
namespace {

struct TPlace {
    const char* Name;
    HWND Control;
    RECT Expected; // left, top, width, height at 96 DPI
};

LOGFONTA FontOf(HWND Control)
{
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

bool SameRect(const RECT& A, const RECT& B)
{
    return A.left == B.left && A.top == B.top && A.right == B.right && A.bottom == B.bottom;
}

TEST_F(LoaderTest, MainWindowLayoutCaptionsAndFontsAt96Dpi)
{
    CreateForm();
    TaForm& f = *Form;
    ASSERT_EQ(f.Dpi(), 96u) << "the layout below is the designed one";
    const TPlace places[] = {
        {"Image1", f.Image1.Handle(), {18, 12, 187, 23}},   {"SpeedButton1", f.SpeedButton1.Handle(), {315, 12, 25, 25}},
        {"Label1", f.Label1.Handle(), {18, 44, 322, 57}},   {"LV", f.LV.Handle(), {18, 111, 181, 90}},
        {"SBStart", f.SBStart.Handle(), {208, 112, 132, 22}}, {"SBCancel", f.SBCancel.Handle(), {208, 136, 132, 22}},
        {"PBar", f.PBar.Handle(), {208, 188, 132, 13}},     {"Bevel1", f.Bevel1.Handle(), {18, 216, 322, 30}},
        {"Label3", f.Label3.Handle(), {24, 220, 312, 24}},
    };
    for (const TPlace& p : places) {
        const RECT r = ui::TControl(p.Control).Bounds();
        EXPECT_TRUE(SameRect(r, p.Expected)) << p.Name << " at " << r.left << "," << r.top << " " << r.right << "x"
                                             << r.bottom;
    }
    // The auto-sized labels keep their place and fit their caption.
    EXPECT_EQ(f.LStat.Bounds().left, 209);
    EXPECT_EQ(f.LStat.Bounds().top, 172);
    EXPECT_EQ(f.LPercent.Bounds().left, 273);

    RECT client{};
    GetClientRect(f.Handle(), &client);
    EXPECT_EQ(client.right, 358);
    EXPECT_EQ(client.bottom, 260);
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(f.Handle(), GWL_STYLE));
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), WS_SYSMENU | WS_MINIMIZEBOX);

    EXPECT_EQ(ui::WindowText(f.Handle()), "Quillmark Loader");
    EXPECT_EQ(f.SBStart.Caption(), "&Start");
    EXPECT_TRUE(f.SBStart.Enabled());
    EXPECT_EQ(f.SBCancel.Caption(), "&Close");
    EXPECT_EQ(f.LStat.Caption(), "Ready");
    EXPECT_EQ(f.LPercent.Caption(), "");
    EXPECT_EQ(f.Label1.Caption().rfind("This program will download all necessary files to install Quillmark Veldra.", 0),
              0u);
    EXPECT_EQ(f.PBar.Min(), 0);
    EXPECT_EQ(f.PBar.Max(), 100);
    EXPECT_EQ(f.PBar.Position(), 0);

    const LOGFONTA normal = FontOf(f.LStat.Handle());
    EXPECT_STREQ(normal.lfFaceName, "Arial");
    EXPECT_EQ(normal.lfHeight, -11);
    EXPECT_EQ(normal.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(FontOf(f.SBStart.Handle()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(f.SBCancel.Handle()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(f.Label1.Handle()).lfWeight, FW_NORMAL);
    EXPECT_EQ(FontOf(f.Label3.Handle()).lfHeight, -9);
}

// Moved to a monitor of 144 DPI, both forms scale positions, fonts and
// row images by 1.5 (rounded as MulDiv rounds).
TEST_F(LoaderTest, PositionsFontsAndImagesScaleWithTheMonitorDpi)
{
    CreateForm();
    RECT suggested{100, 100, 700, 600};
    for (HWND form : {Form->Handle(), Setup->Handle()})
        SendMessageA(form, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    ASSERT_EQ(Form->Dpi(), 144u);
    ASSERT_EQ(Setup->Dpi(), 144u);
    const TPlace places[] = {
        {"LV", Form->LV.Handle(), {27, 167, 272, 135}},        {"SBStart", Form->SBStart.Handle(), {312, 168, 198, 33}},
        {"Label3", Form->Label3.Handle(), {36, 330, 468, 36}},  {"EPass", Setup->EPass.Handle(), {114, 150, 227, 33}},
        {"Button1", Setup->Button1.Handle(), {57, 228, 113, 38}},
    };
    for (const TPlace& p : places) {
        const RECT r = ui::TControl(p.Control).Bounds();
        EXPECT_TRUE(SameRect(r, p.Expected)) << p.Name << " at " << r.left << "," << r.top << " " << r.right << "x"
                                             << r.bottom;
    }
    EXPECT_EQ(FontOf(Form->LStat.Handle()).lfHeight, -17);
    EXPECT_EQ(FontOf(Form->Label3.Handle()).lfHeight, -14);
    EXPECT_EQ(FontOf(Setup->EProxy.Handle()).lfHeight, -17);
    EXPECT_EQ(Form->LV.ColumnWidth(0), 156);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(Form->ImageList1.Handle(), &cx, &cy);
    EXPECT_EQ(cx, 24);
    EXPECT_EQ(ImageList_GetImageCount(Form->ImageList1.Handle()), 2);
}

TEST_F(LoaderTest, ListViewIsAReadOnlyReportWithGridAndRowImages)
{
    CreateForm();
    ui::TListView& lv = Form->LV;
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(lv.Handle(), GWL_STYLE));
    EXPECT_EQ(style & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(style & LVS_NOSORTHEADER) << "headers must not be clickable";
    EXPECT_FALSE(style & LVS_EDITLABELS);
    const auto extended = static_cast<DWORD>(SendMessageA(lv.Handle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT), static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    EXPECT_EQ(lv.ColumnWidth(0), 104);
    EXPECT_EQ(lv.ColumnWidth(1), 55);
    LVCOLUMNA size{};
    size.mask = LVCF_FMT;
    SendMessageA(lv.Handle(), LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&size));
    EXPECT_EQ(size.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT);

    const auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(lv.Handle(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_EQ(images, Form->ImageList1.Handle());
    EXPECT_EQ(ImageList_GetImageCount(images), 2);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    const int row = lv.AddRow("setup.exe", "123456");
    EXPECT_EQ(lv.ImageIndex(row), 0) << "a new row is still to fetch";
    EXPECT_EQ(lv.Text(row, 1), "123456");
}

// The speed buttons take no keyboard focus: a mouse click leaves the focus
// in the list view, which is first in the tab order.
TEST_F(LoaderTest, ButtonsTakeNoFocusAndTheListLeadsTheTabOrder)
{
    CreateForm();
    EXPECT_EQ(GetNextDlgTabItem(Form->Handle(), nullptr, FALSE), Form->LV.Handle());
    Form->LV.SetFocus();
    ASSERT_TRUE(Form->LV.Focused());
    // SpeedButton1: a real mouse press and release open the (hidden) dialog,
    // which the posted action closes again.
    PostAction([this] { Setup->Button2.Click(); });
    SendMessageA(Form->SpeedButton1.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_TRUE(Form->LV.Focused());
    SendMessageA(Form->SpeedButton1.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_FALSE(Setup->Showing());
    EXPECT_TRUE(Form->LV.Focused());
    for (HWND button : {Form->SBStart.Handle(), Form->SBCancel.Handle(), Form->SpeedButton1.Handle()})
        EXPECT_FALSE(GetWindowLongPtrA(button, GWL_STYLE) & WS_TABSTOP);
}

// With the program's message hook: Escape and Enter do nothing, Alt+C
// presses "&Close".
TEST_F(LoaderTest, KeysWorkAsInADialog)
{
    CreateForm();
    const ui::TMessageHookGuard keys([this](MSG& Msg) { return Form->HandleDialogKeys(Msg); });
    const HWND lv = Form->LV.Handle();
    Form->LV.SetFocus();
    for (const WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
        PostMessageA(lv, WM_KEYDOWN, key, 1);
        PostMessageA(lv, WM_KEYUP, key, 0xC0000001);
    }
    ui::Application().ProcessMessages();
    EXPECT_FALSE(Form->Closed());
    PostMessageA(lv, WM_SYSCHAR, 'c', 0x20000001); // Alt held
    ui::Application().ProcessMessages();
    EXPECT_TRUE(Form->Closed());
}

TEST_F(LoaderTest, DownloadDirIsTheCurrentDirectoryPlusVeldratp)
{
    CreateForm();
    EXPECT_EQ(Form->DownloadDir, Dir.Path + "\\veldratp");
    EXPECT_TRUE(GetFileAttributesA(Form->DownloadDir.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(Form->SystemDir, std::string(windows) + "\\system");
    EXPECT_EQ(Form->CompleteAtLoad, 0);

    // Started again in the same directory: the directory is reused, silently.
    Form->FormCreate();
    EXPECT_EQ(Form->DownloadDir, Dir.Path + "\\veldratp");
    EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(LoaderTest, DownloadDirAtADriveRootHasOneBackslash)
{
    const bool existed = FileExists("C:\\veldratp");
    SetCurrentDirectoryA("C:\\");
    CreateForm();
    EXPECT_EQ(Form->DownloadDir, "C:\\veldratp");
    EXPECT_TRUE(FileExists("C:\\veldratp"));
    if (!existed)
        RemoveDirectoryA("C:\\veldratp");
}

TEST_F(LoaderTest, LongWindowsDirectoryAndACurrentFolderWithoutAnAnsiName)
{
    const std::string windows = "C:\\" + std::string(150, 'w');
    Seams.GetWindowsDirectoryA = [&](char* Buffer, UINT Size) {
        return static_cast<UINT>(Size > windows.size() ? windows.copy(Buffer, Size) : windows.size() + 1);
    };
    const std::wstring folder = std::wstring(Dir.Path.begin(), Dir.Path.end()) + L"\\\u05D0\u4E2D";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && SetCurrentDirectoryW(folder.c_str()));
    CreateForm();
    SetCurrentDirectoryA(Dir.Path.c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(Form->SystemDir, windows + "\\system");
    Form->SBStart.Click(); // no run: the message again
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>(2, Boxes.Texts().at(0)));
    EXPECT_NE(Boxes.Texts()[0].find("code page cannot show, so the files cannot be stored there:\r\n" + Dir.Path + "\\??"),
              std::string::npos);
}

TEST_F(LoaderTest, Label3OpensTheMailLinkThroughTheShell)
{
    CreateForm();
    SendMessageA(Form->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Form->Label3.Handle()), STN_CLICKED),
                 reinterpret_cast<LPARAM>(Form->Label3.Handle()));
    ASSERT_EQ(ShellCalls.size(), 1u);
    const TShellCall& call = ShellCalls[0];
    EXPECT_EQ(call.Owner, nullptr);
    EXPECT_EQ(call.Verb, "open");
    EXPECT_EQ(call.File, "mailto:support@quillmark.example");
    EXPECT_FALSE(call.HasParameters);
    EXPECT_FALSE(call.HasDirectory);
    EXPECT_EQ(call.ShowCmd, SW_SHOWNORMAL);
    EXPECT_NE(Form->Label3.Caption().find("support@quillmark.example"), std::string::npos);
}

constexpr const char* DeletePrompt =
    "Do you wish to delete the downloaded files?\r\nIf Quillmark Veldra has been installed successfully,\r\n"
    "you can delete them to save the hard disk space.\r\nOtherwise, click \"No\" so you do not have to download\r\n"
    "them again.";
constexpr const char* InstalledMessage =
    "Now you can run Quillmark. To run,\r\nclick \"Start,\" select \"Programs\" and \"Quillmark.\"\r\n"
    "Good luck and happy studying!";

struct TCloseCase {
    const char* Name;
    std::int32_t CompleteAtLoad;
    bool InstallStarted;
    int Answer;          // to the prompt, 0 when none is expected
    bool SubDirectory;   // DownloadDir holds a folder as well
    bool ByTitleBar;     // else by SBCancel's "&Close"
    bool FilesRemain;    // the files directly in DownloadDir
    bool DirRemains;
};

class CloseTest : public LoaderTest, public ::testing::WithParamInterface<TCloseCase> {};

TEST_P(CloseTest, PromptDeletionAndFinalMessage)
{
    const TCloseCase& c = GetParam();
    CreateForm();
    const std::string dir = Form->DownloadDir;
    // The second target lies outside the download directory, where a
    // killed run may have left a temporary beside it.
    WriteTextFile(dir + "\\list.txt", "a\t1\t1\ta.bin\t{prog}\\a.bin\nb\t1\t1\tb.bin\t" + Dir.Path + "\\b.txt\n");
    WriteTextFile(dir + "\\a.bin", "x");
    WriteTextFile(Dir.Path + "\\b.txt.qm-part", "half");
    CreateDirectoryA((dir + "\\unfinished.qm-part").c_str(), nullptr);
    WriteTextFile(dir + "\\unfinished.qm-part\\a.bin.qm-part", "half");
    ASSERT_FALSE(Form->Run.LoadFileList());
    WriteTextFile(Dir.Path + "\\outside.txt", "kept");
    if (c.SubDirectory) {
        CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
        WriteTextFile(dir + "\\sub\\inner.txt", "kept");
    }
    Form->CompleteAtLoad = c.CompleteAtLoad;
    Form->InstallStarted = c.InstallStarted;
    if (c.Answer)
        Boxes.Answers.push_back(c.Answer);
    ui::SetScreenCursor(ui::crHourGlass);

    if (c.ByTitleBar)
        SendMessageA(Form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        Form->SBCancel.Click();

    EXPECT_TRUE(Form->Closed());
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
    EXPECT_EQ(ui::ScreenCursor(), ui::crDefault);
    std::vector<std::string> expected;
    if (c.Answer)
        expected.push_back(DeletePrompt);
    if (c.InstallStarted)
        expected.push_back(InstalledMessage);
    EXPECT_EQ(Boxes.Texts(), expected);
    if (c.Answer) {
        EXPECT_EQ(Boxes.Shown[0].Caption, "Confirm");
        EXPECT_EQ(Boxes.Shown[0].Flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    }
    if (c.InstallStarted) {
        EXPECT_EQ(Boxes.Shown.back().Caption, "Quillmark Loader");
        EXPECT_EQ(Boxes.Shown.back().Flags, static_cast<UINT>(MB_OK));
    }
    EXPECT_EQ(FileExists(dir + "\\list.txt"), c.FilesRemain);
    EXPECT_EQ(FileExists(dir + "\\a.bin"), c.FilesRemain);
    EXPECT_EQ(FileExists(dir), c.DirRemains);
    EXPECT_EQ(FileExists(dir + "\\sub\\inner.txt"), c.SubDirectory);
    EXPECT_TRUE(FileExists(Dir.Path + "\\outside.txt"));
    EXPECT_EQ(FileExists(Dir.Path + "\\b.txt.qm-part"), c.FilesRemain);
    EXPECT_EQ(FileExists(dir + "\\unfinished.qm-part"), c.FilesRemain);
    EXPECT_TRUE(Form->Run.FileList().empty()) << "the file list is released";

    // Closed once: a second close asks nothing more.
    const std::size_t shown = Boxes.Shown.size();
    Form->Close();
    EXPECT_EQ(Boxes.Shown.size(), shown);
}

const TCloseCase CloseCases[] = {
    {"NeverStarted", 0, false, 0, false, true, true, true},
    {"InstalledWithoutPrompt", 0, true, 0, false, false, true, true},
    {"YesDeletesFilesAndDir", 1, false, IDYES, false, false, false, false},
    {"YesKeepsAFolderAndSoTheDir", 2, true, IDYES, true, true, false, true},
    {"NoKeepsEverything", 1, true, IDNO, false, true, true, true},
};
INSTANTIATE_TEST_SUITE_P(Loader, CloseTest, ::testing::ValuesIn(CloseCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(LoaderAddress, BuiltInAddressIsTheConfiguredUrlScrambled)
{
    const std::string stored = BuiltInServerBaseURL();
    EXPECT_EQ(DescrambleText(stored), QM_TEST_SERVER_BASE_URL);
    EXPECT_EQ(stored.find(QM_TEST_SERVER_BASE_URL), std::string::npos) << "the plain URL is not stored";
}

} // namespace
} // namespace qm::test
