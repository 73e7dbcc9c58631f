// The download run as a user meets it: a whole set fetched and put in place,
// the rerun that skips what is complete, the completeness rules, failed and
// broken answers, local errors, Cancel, and closing the window mid-transfer.
#include "LoaderRunFixture.h"

namespace qm::test {
namespace {

constexpr const char* Terminated = "Transfer terminated.\r\nClick \"Start\" to resume downloading.";

std::string SystemFolder()
{
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string system = std::string(windows) + "\\system";
    CreateDirectoryA(system.c_str(), nullptr); // a fresh Wine prefix has none
    return system;
}

// A set with a compressed and plain files, a {sys} and {prog} targets, the
// setup program as its own target and both setup files.
struct TSetFixture : LoaderRunTest {
    const std::string setupExe = "MZ setup program";
    const std::string core = std::string(20000, 'c') + "core data";
    const std::string readme = "read me";
    const std::string ini = "[setup]\r\nx=1\r\n";
    const std::string pkg = std::string(3000, 'p');
    const std::string sysFile = SystemFolder() + "\\qmrun-readme.txt";

    std::string List() const
    {
        const auto size = [](const std::string& s) { return std::to_string(s.size()); };
        return ListText({
            ListLine("Setup", size(setupExe), size(setupExe), "setup.exe", "{prog}\\setup.exe", ""),
            ListLine("Core", size(Compressed(core)), size(core), "core.lzh", "{prog}\\core.bin", "yes"),
            ListLine("Readme", size(readme), size(readme), "readme.txt", "{sys}\\qmrun-readme.txt", ""),
            ListLine("Ini", size(Compressed(ini)), size(ini), "setup.in_", "{prog}\\SETUP.INI", "yes"),
            ListLine("Pkg", size(pkg), size(pkg), "setup.pk_", "{prog}\\Setup.Pkg", ""),
        });
    }
    void TearDown() override
    {
        DeleteFileA(sysFile.c_str());
        LoaderRunTest::TearDown();
    }
};

TEST_F(TSetFixture, FullRunPlacesEveryFileAndARerunFetchesOnlyTheSetupFiles)
{
    Server.Script({Ok(List()), Ok(setupExe), Ok(Compressed(core)), Ok(readme), Ok(Compressed(ini)), Ok(pkg)});
    std::vector<std::string> status;
    auto original = Form->HttpCli1.OnStateChange;
    Form->HttpCli1.OnStateChange = [&, original](THttpCli& Client) {
        original(Client);
        const bool worded = Client.State() != hsReady && Client.State() != hsConnecting;
        if (worded && (status.empty() || status.back() != Form->LStat.Caption()))
            status.push_back(Form->LStat.Caption());
    };
    Form->SBStart.Click();

    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    ExpectComplete();
    EXPECT_EQ(RowImages(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(ReadWholeFile(Prog("setup.exe")), setupExe);
    EXPECT_EQ(ReadWholeFile(Prog("core.bin")), core);
    EXPECT_EQ(ReadWholeFile(sysFile), readme);
    EXPECT_EQ(ReadWholeFile(Prog("SETUP.INI")), ini);
    EXPECT_EQ(ReadWholeFile(Prog("Setup.Pkg")), pkg);
    EXPECT_EQ(Form->CompleteAtLoad, 0);
    ASSERT_GE(status.size(), 3u);
    status.resize(3);
    EXPECT_EQ(status, (std::vector<std::string>{"Looking 127.0.0.1", "Connected", "Transferred:"}));
    EXPECT_EQ(Form->LStat.Caption(), "Transferred:");
    EXPECT_EQ(Form->PBar.Position(), 0);
    EXPECT_EQ(Form->LPercent.Caption(), "");

    Restart();
    Boxes.Shown.clear();
    Server.Script({Ok(List()), Ok(Compressed(ini)), Ok(pkg)});
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "setup.exe", "core.lzh", "readme.txt", "setup.in_",
                                                     "setup.pk_", "list.txt", "setup.in_", "setup.pk_"}));
    EXPECT_EQ(Form->CompleteAtLoad, 5); // the setup files count, though fetched again
    ExpectComplete();
}

// Which rows a loading of the list takes as complete, by what lies at their
// targets; the rows not complete are fetched.
TEST_F(LoaderRunTest, RowsAreCompleteWhenTheirTargetHasTheInstalledSize)
{
    WriteTextFile(Prog("vcl30.dpl"), "12345");
    CreateDirectoryA(Prog("up").c_str(), nullptr);
    WriteTextFile(Prog("up\\VCL30.DPL"), "12345");
    WriteTextFile(Prog("right.txt"), "123");
    WriteTextFile(Prog("wrong.txt"), "1234");
    WriteTextFile(Prog("there.txt"), "");
    struct TRow {
        const char* Installed;
        const char* Target;
        int Image;
    } rows[] = {
        {"0", "{prog}\\vcl30.dpl", 1},     // counts as 0 whatever its size
        {"0", "{prog}\\up\\vcl30.dpl", 0}, // found as VCL30.DPL: by its real size
        {"-1", "{prog}\\absent.txt", 1},   // -1: complete when nothing is there
        {"-1", "{prog}\\there.txt", 0},
        {"3", "{prog}\\right.txt", 1},
        {"3", "{prog}\\wrong.txt", 0},
        {"3", "{prog}\\r*t.txt", 1},       // wildcards: the first match
    };
    std::vector<std::string> lines;
    std::vector<TExchange> answers;
    std::vector<int> images;
    const std::string odd = " #%\xE9&=~"; // in the URL only as %XX, on disk as it is
    for (const TRow& row : rows) {
        const std::string remote = "r" + std::to_string(lines.size()) + (lines.size() == 3 ? odd : "");
        lines.push_back(ListLine(remote, "abc", row.Installed, remote, row.Target, ""));
        images.push_back(row.Image);
    }
    answers.push_back(Ok(ListText(lines)));
    std::vector<std::string> fetched{"list.txt"};
    std::vector<int> maxima;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (images[i] == 0) { // the installed size, where a copy can have it
            answers.push_back(Ok(std::string(static_cast<std::size_t>(std::max(std::stoi(rows[i].Installed), 1)), 'x')));
            fetched.push_back("r" + std::to_string(i) + (i == 3 ? "%20%23%25%E9&=~" : ""));
        }
    Server.Script(answers);
    auto original = Form->HttpCli1.OnDocData;
    Form->HttpCli1.OnDocData = [&, original](THttpCli& Client, const void* Buffer, std::int32_t Len) {
        original(Client, Buffer, Len);
        maxima.push_back(Form->PBar.Max());
    };
    Form->SBStart.Click();

    EXPECT_EQ(Requested(), fetched);
    EXPECT_EQ(ReadWholeFile(Prog("r3" + odd)), "x");
    EXPECT_EQ(Form->CompleteAtLoad, 4);
    EXPECT_EQ(Form->LV.Text(0, 1), "abc");
    EXPECT_EQ(maxima.back(), 1); // a DownloadSize that is no number
    // Judged by the bytes written, the -1 row and the VCL30.DPL row (now vcl30.dpl) are in place.
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    EXPECT_EQ(NameOnDisk(Prog("up\\vcl30.dpl")), "vcl30.dpl");
}

// Answers that are no success are failed downloads: the message, nothing put
// in place, and the window transferring until Cancel.
TEST_F(LoaderRunTest, AnswersThatAreNoSuccessFailTheDownloadUntilCancel)
{
    const std::string body(100, 'b');
    const struct {
        TExchange Answer;
        const char* Message;
    } cases[] = {
        {Raw("HTTP/1.0 404 Not Found\r\n\r\n"), "Failed : 404 Not Found"},
        {Raw("HTTP/1.0 304 Not Modified\r\n\r\n"), "Failed : 304 Not Modified"},
        {Raw(""), "Failed : 0 The server sent no status line"},
        {Raw("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + body.substr(0, 40)),
         "Failed : 200 Connection broken: 40 of 100 bytes received"},
    };
    const std::string list = ListText({ListLine("A", "100", "100", "a.bin", "{prog}\\a.txt", "")});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        Boxes.Shown.clear();
        Server.Script({Ok(list), c.Answer});
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{c.Message});
        EXPECT_FALSE(FileExists(Prog("a.txt")));
        ExpectTransferring();
        Form->SBCancel.Click();
        ExpectIdle();
        EXPECT_EQ(Boxes.Shown.size(), 1u);
    }
    // The broken download is fetched again whole, from its first byte.
    Server.Script({Ok(list), Ok(body)});
    Form->SBStart.Click();
    EXPECT_EQ(ReadWholeFile(Prog("a.bin")), body);
    EXPECT_EQ(ReadWholeFile(Prog("a.txt")), body);
    EXPECT_EQ(Server.Requests().back().find("Range"), std::string::npos);
}

TEST_F(LoaderRunTest, AnEmptyListReturnsToIdleWithoutAMessage)
{
    Server.Script({Ok("")});
    Form->SBStart.Click();
    EXPECT_TRUE(Boxes.Shown.empty());
    EXPECT_EQ(Form->LV.Count(), 0);
    ExpectIdle();
}

// Errors of the run's own (not the server's) are named and leave the window
// idle, never "Transfer finished."; an unsafe RemoteName is never requested.
TEST_F(LoaderRunTest, LocalErrorsAreNamedAndLeaveTheWindowIdle)
{
    CreateDirectoryA(Prog("folder.bin").c_str(), nullptr);
    const auto line = [](const char* Installed, const char* Remote) {
        return ListText({ListLine("A", "5", "5", "ok.bin", "{prog}\\ok.txt", ""),
                         ListLine("B", "5", Installed, Remote, "{prog}\\b.txt", "")});
    };
    const std::string refused = "The file list names a file it cannot use in line 2 of the file list: the remote name ";
    const struct {
        std::string List;
        std::string Message;
        std::size_t Requests;
    } cases[] = {
        {line("five", "b.bin"), "The installed size in line 2 of the file list is not a number: \"five\"", 1},
        {"no tab at all\r\n", "The installed size in line 1 of the file list is not a number: \"\"", 1},
        {line("5", ""), refused + "\"\"", 1},
        {line("5", "."), refused + "\".\"", 1},
        {line("5", ".."), refused + "\"..\"", 1},
        {line("5", "..\\evil.bin"), refused + "\"..\\evil.bin\"", 1},
        {line("5", "sub/evil.bin"), refused + "\"sub/evil.bin\"", 1},
        {line("5", "c:evil.bin"), refused + "\"c:evil.bin\"", 1},
        {line("5", "nul"), refused + "\"nul\"", 1},
        {line("5", "Com1.txt"), refused + "\"Com1.txt\"", 1},
        {line("5", "folder.bin"), "A folder stands where the file belongs: " + Prog("folder.bin"), 3},
        {line("5", "list.txt."), refused + "\"list.txt.\" ends in a dot or a space", 1},
        {line("5", "b.bin.QM-PART"), "The file list names a file it cannot use in line 2 of the file list: the remote "
                                     "name \"b.bin.QM-PART\" ends in \".qm-part\", which is kept for unfinished files", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        Boxes.Shown.clear();
        const std::size_t before = Server.Requests().size();
        std::vector<TExchange> answers{Ok(c.List)};
        answers.resize(std::max<std::size_t>(c.Requests, 2), Ok("12345"));
        Server.Script(answers);
        Form->SBStart.Click();
        EXPECT_TRUE(Boxes.Texts().size() == 1 && Boxes.Texts()[0].starts_with(c.Message)) << Boxes.Shown.size();
        ExpectIdle();
        EXPECT_EQ(Server.Requests().size() - before, c.Requests); // list.txt, and ok.bin once loaded
    }
    EXPECT_FALSE(FileExists(Form->DownloadDir + "\\..\\evil.bin"));
    // Without its download directory the run cannot even store list.txt.
    RemoveTree(Form->DownloadDir);
    Boxes.Shown.clear();
    const std::size_t before = Server.Requests().size();
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Cannot create the file: " + Prog("list.txt.qm-part")});
    EXPECT_EQ(Server.Requests().size(), before);
    ExpectIdle();
}

// Cancel while list.txt arrives, then while a file arrives, then a run to the
// end. While a transfer runs, the list's focus cannot be moved and Start
// stays disabled until the cancelled run has returned.
TEST_F(LoaderRunTest, CancelDuringTheListAndDuringAFileThenStartAgain)
{
    const std::string big(30000, 'z');
    const std::string list = ListText({ListLine("A", "2", "2", "a.bin", "{prog}\\a.txt", ""),
                                       ListLine("B", "30000", "30000", "b.bin", "{prog}\\b.txt", "")});
    const auto cancel = [this] {
        Form->SBCancel.Click();
        EXPECT_EQ(Form->SBCancel.Caption(), "&Close");
        EXPECT_FALSE(Form->SBStart.Enabled()); // the run has not returned yet
    };
    Server.Script({Ok(list, 10)});
    DuringTransferOf("list.txt", cancel);
    Form->SBStart.Click();
    const std::string aborted = "Failed : 404 Connection aborted on request";
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{aborted});
    ExpectIdle();

    Boxes.Shown.clear();
    Server.Script({Ok(list), Ok("aa"), Ok(big, 1000)});
    DuringTransferOf("b.bin", [&] {
        const int focused = Form->LV.FocusedIndex();
        Form->LV.Focus(0);
        EXPECT_EQ(Form->LV.FocusedIndex(), focused) << "the focus moved during a transfer";
        cancel();
    });
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{aborted});
    ExpectIdle();
    EXPECT_EQ(RowImages(), (std::vector<int>{1, 0}));
    EXPECT_FALSE(FileExists(Prog("b.txt")));

    Boxes.Shown.clear();
    Server.Script({Ok(list), Ok(big)});
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    EXPECT_EQ(ReadWholeFile(Prog("b.txt")), big);
    Form->LV.Focus(0); // allowed again once the client is ready
    EXPECT_EQ(Form->LV.FocusedIndex(), 0);
}

// Cancel, or closing the window, while a file is being unpacked aborts
// nothing: the unpacking ends, and the run stops before the next file.
TEST_F(LoaderRunTest, CancelOrCloseDuringUnpackingEndsTheRunBeforeTheNextFile)
{
    const std::string plain(100000, 'q');
    const std::string packed = Compressed(plain);
    const std::string list =
        ListText({ListLine("A", std::to_string(packed.size()), "100000", "a.lzh", "{prog}\\a.bin", "yes"),
                  ListLine("B", "1", "1", "b.bin", "{prog}\\b.txt", "")});
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "cancel");
        Boxes.Shown.clear();
        DeleteFileA(Prog("a.bin").c_str());
        const std::size_t before = Server.Requests().size();
        Server.Script({Ok(list), Ok(packed)});
        bool pressed = false;
        Form->LzhD1.OnProcessMessages = [&] {
            if (!std::exchange(pressed, true)) {
                close ? Form->Close() : Form->SBCancel.Click();
                EXPECT_FALSE(Form->SBStart.Enabled()); // no second decompression
            }
            ui::Application().ProcessMessages();
        };
        Form->SBStart.Click();
        EXPECT_EQ(ReadWholeFile(Prog("a.bin")), plain);
        EXPECT_EQ(Server.Requests().size() - before, 2u); // list.txt and a.lzh
        EXPECT_EQ(Form->Closed(), close);
        if (close) {
            EXPECT_TRUE(Boxes.Shown.empty());
        } else {
            EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{Terminated});
            EXPECT_EQ(RowImages(), (std::vector<int>{1, 0}));
            ExpectIdle();
        }
    }
}

// Closing the window during a transfer aborts it; the run ends silently and
// asks for nothing more, and the program is closed once it has returned.
TEST_F(LoaderRunTest, ClosingDuringATransferEndsTheRunAndTheProgram)
{
    Server.Script({Ok(ListText({ListLine("A", "20000", "20000", "a.bin", "{prog}\\a.txt", ""),
                                ListLine("B", "1", "1", "b.bin", "{prog}\\b.txt", "")})),
                   Ok(std::string(20000, 'a'), 100)});
    DuringTransferOf("a.bin", [this] { Form->Close(); });
    Form->SBStart.Click();
    EXPECT_TRUE(Form->Closed());
    EXPECT_TRUE(Boxes.Shown.empty());
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "a.bin"}));
    EXPECT_FALSE(FileExists(Prog("a.txt")));
    EXPECT_TRUE(Form->Run.FileList().empty());
}

} // namespace
} // namespace qm::test
