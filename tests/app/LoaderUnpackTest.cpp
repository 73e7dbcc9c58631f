// Putting downloads in place (decompressed or copied, by the exact flag),
// what a failed unpack or copy does to the run, and starting setup.
#include "LoaderRunFixture.h"

namespace qm::test {
namespace {

TEST_F(LoaderRunTest, TheExactFlagDecidesAndRowsThatFailStayToBeFetched)
{
    const std::string plain = "plain text, plain text, plain text";
    const std::string packed = Compressed(plain);
    const std::string damaged = packed.substr(0, 6); // its header cut short
    const auto size = [](const std::string& s) { return std::to_string(s.size()); };
    const std::string list = ListText({
        ListLine("Packed", size(packed), size(plain), "a.lzh", "{prog}\\a.txt", "yes"),
        ListLine("Capital", size(packed), size(packed), "b.lzh", "{prog}\\b.txt", "Yes"),
        "NoFlag\t" + size(plain) + "\t" + size(plain) + "\tc.bin\t{prog}\\c.txt", // five fields only
        ListLine("Damaged", size(damaged), size(plain), "d.lzh", "{prog}\\d.txt", "yes"),
        ListLine("NoFolder", size(plain), size(plain), "e.bin", "{prog}\\missing\\e.txt", ""),
    });
    Server.Script({Ok(list), Ok(packed), Ok(packed), Ok(plain), Ok(damaged), Ok(plain)});
    Form->SBStart.Click();

    EXPECT_EQ(ReadWholeFile(Prog("a.txt")), plain);
    EXPECT_EQ(ReadWholeFile(Prog("b.txt")), packed); // "Yes" is not "yes": copied as it is
    EXPECT_EQ(ReadWholeFile(Prog("c.txt")), plain);
    EXPECT_FALSE(FileExists(Prog("d.txt")));        // no half-written target
    EXPECT_TRUE(FileExists(Prog("d.lzh")));         // the download stays
    EXPECT_EQ(RowImages(), (std::vector<int>{1, 1, 1, 0, 0}));
    const std::vector<std::string> notPlaced{"2 files could not be put in place.\r\nThe folder for the file does not exist: " +
                                             Prog("missing\\e.txt") + "\r\nClick \"Start\" to try again."};
    EXPECT_EQ(Boxes.Texts(), notPlaced);
    ExpectIdle();

    // Start tries again: only the two rows that are not in place.
    Boxes.Shown.clear();
    CreateDirectoryA(Prog("missing").c_str(), nullptr);
    Server.Script({Ok(list), Ok(damaged), Ok(plain)});
    Form->SBStart.Click();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "a.lzh", "b.lzh", "c.bin", "d.lzh", "e.bin",
                                                     "list.txt", "d.lzh", "e.bin"}));
    EXPECT_EQ(ReadWholeFile(Prog("missing\\e.txt")), plain);
    const std::vector<std::string> oneNotPlaced{"1 file could not be put in place.\r\nClick \"Start\" to try again."};
    EXPECT_EQ(Boxes.Texts(), oneNotPlaced);
}

// A setup program that is its own target, cut short behind a larger
// Content-Length at exactly its listed size: nothing carries its final name,
// so the next run fetches it again, and Install starts the genuine one.
TEST_F(LoaderRunTest, ASelfTargetCutShortAtItsListedSizeIsFetchedAgain)
{
    const std::string list = ListText({ListLine("Setup", "2", "2", "setup.exe", "{prog}\\setup.exe", "")});
    Server.Script({Ok(list), Raw("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nZZ")});
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Failed : 200 Connection broken: 2 of 3 bytes received"});
    EXPECT_FALSE(FileExists(Prog("setup.exe")));
    Form->SBCancel.Click();

    Restart();
    Boxes.Shown.clear();
    Server.Script({Ok(list), Ok("MZ")});
    Form->SBStart.Click();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "setup.exe", "list.txt", "setup.exe"}));
    EXPECT_EQ(ReadWholeFile(Prog("setup.exe")), "MZ");
    ExpectComplete();
}

// Keys queued behind the end of a download reach the list view in Get's
// last pass, when the client is ready and the focus may move: the row put in
// place is still the one downloaded.
TEST_F(LoaderRunTest, TheDownloadedRowIsUnpackedWhereverTheFocusWent)
{
    const std::string packed = Compressed("aaa");
    Server.Script({Ok(ListText({ListLine("A", std::to_string(packed.size()), "3", "a.lzh", "{prog}\\a.txt", "yes"),
                                ListLine("B", "3", "3", "b.bin", "{prog}\\b.txt", "")})),
                   Ok(packed), Ok("bbb")});
    int moved = 0;
    int focusedWhileUnpacking = -1;
    Form->LzhD1.OnProcessMessages = [&] { focusedWhileUnpacking = Form->LV.FocusedIndex(); };
    auto original = Form->HttpCli1.OnStateChange;
    Form->HttpCli1.OnStateChange = [&, original](THttpCli& Client) {
        original(Client);
        if (Client.State() == hsReady && Client.URL.ends_with("a.lzh")) {
            PostMessageA(Form->LV.Handle(), WM_KEYDOWN, VK_DOWN, 1);
            ++moved;
        }
    };
    Form->SBStart.Click();
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(focusedWhileUnpacking, 1); // the key moved the focus to B
    EXPECT_EQ(ReadWholeFile(Prog("a.txt")), "aaa");
    EXPECT_EQ(ReadWholeFile(Prog("b.txt")), "bbb");
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
}

TEST_F(LoaderRunTest, InstallStartsTheSetupProgramEachTimeItIsPressed)
{
    Server.Script({Ok(ListText({ListLine("Setup", "2", "2", "setup.exe", "{prog}\\setup.exe", "")})), Ok("MZ")});
    Form->SBStart.Click();
    ASSERT_EQ(Form->SBStart.Caption(), "&Install QM");
    EXPECT_EQ(RowImages(), std::vector<int>{1}); // its own target: nothing to copy
    EXPECT_FALSE(Form->InstallStarted);

    Form->SBStart.Click();
    Form->SBStart.Click();
    const std::string quoted = "\"" + Prog("setup.exe") + "\"";
    EXPECT_EQ(WinExecs, (std::vector<std::string>{quoted, quoted}));
    EXPECT_EQ(WinExecShows, (std::vector<UINT>{SW_SHOWNORMAL, SW_SHOWNORMAL}));
    EXPECT_TRUE(Form->InstallStarted);
    ExpectComplete();
    EXPECT_EQ(Requested().size(), 2u);

    // Everything in place and no setup file listed: only the list is fetched.
    Restart();
    Boxes.Shown.clear();
    Server.Script({Ok(ListText({ListLine("Setup", "2", "2", "setup.exe", "{prog}\\setup.exe", "")}))});
    Form->SBStart.Click();
    EXPECT_EQ(Requested().size(), 3u);
    EXPECT_EQ(Form->CompleteAtLoad, 1);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    ExpectComplete();
}

} // namespace
} // namespace qm::test
