// The download run against a server that misbehaves on purpose, and a list
// and files that are broken or hostile. For every case: the run ends (by
// itself or at Cancel) with a clear message, no target is left wrong or
// marked complete when it is not, nothing is written outside the download
// directory, and the next run against a good server puts every target in
// place.
#include "LoaderRunFixture.h"

#include <chrono>

namespace qm::test {
namespace {

struct TFile {
    std::string Remote, Target, Plain;
    bool Packed;
    std::string Served() const { return Packed ? Compressed(Plain) : Plain; }
};

// Five files, the odd ones plain; the fifth lies in a folder of its own.
const std::vector<TFile>& Set()
{
    static const std::vector<TFile> files{
        {"one.dat", "one.txt", "first file", false},
        {"two.lzh", "two.bin", std::string(20000, 't') + "two", true},
        {"three.dat", "three.txt", std::string(3000, '3'), false},
        {"four.lzh", "four.bin", "four, packed", true},
        {"five.dat", "sub\\five.txt", "fifth", false},
    };
    return files;
}

std::string GoodList()
{
    std::vector<std::string> lines;
    for (const TFile& f : Set())
        lines.push_back(ListLine(f.Remote, std::to_string(f.Served().size()), std::to_string(f.Plain.size()),
                                 f.Remote, "{prog}\\" + f.Target, f.Packed ? "yes" : ""));
    return ListText(lines);
}

// The answers of a good server: the list, then the files From to the end.
std::vector<TExchange> GoodFrom(std::size_t From, const std::string& List = GoodList())
{
    std::vector<TExchange> answers{Ok(List)};
    for (std::size_t i = From; i < Set().size(); ++i)
        answers.push_back(Ok(Set()[i].Served()));
    return answers;
}

TExchange Answer(std::string Bytes, TExchange::TEnd End = TExchange::TEnd::Close)
{
    return {{{std::move(Bytes)}}, End};
}

// A TIMERPROC cannot carry state: the one pending Cancel presses this form's
// button.
TaForm* cancelTarget = nullptr;

UINT_PTR CancelAfter(TaForm& Form, unsigned Ms)
{
    cancelTarget = &Form;
    return SetTimer(nullptr, 0, Ms, [](HWND, UINT, UINT_PTR Id, DWORD) {
        KillTimer(nullptr, Id);
        if (cancelTarget && cancelTarget->SBCancel.Caption() == "&Cancel")
            cancelTarget->SBCancel.Click();
    });
}

constexpr const char* Aborted = "Failed : 404 Connection aborted on request";
constexpr const char* OneMissing = "1 file could not be put in place.\r\nClick \"Start\" to try again.";

struct THostileCase {
    const char* Name;
    std::vector<TExchange> Script;
    std::string Message;   // the first message box, or its start when it ends in "*"
    unsigned CancelMs = 0; // Cancel pressed this long after Start
    std::function<void()> Prepare = {};
    std::function<void()> Restore = {};
    const char* Untouched = ""; // a target that must keep what it held
};

class HostileServerTest : public LoaderRunTest {
protected:
    void SetUp() override
    {
        LoaderRunTest::SetUp();
        CreateDirectoryA(Prog("sub").c_str(), nullptr);
    }

    // The targets absent or byte-identical to their sources, every complete
    // row's target in place; and nothing but the download directory in the
    // current directory.
    void ExpectNoWrongTarget(const std::string& Exempt = "") const
    {
        for (const TFile& f : Set()) {
            if (f.Target == Exempt || !FileExists(Prog(f.Target)))
                continue;
            EXPECT_TRUE(ReadWholeFile(Prog(f.Target)) == f.Plain) << f.Target << " left wrong";
        }
        for (int row = 0; row < Form->LV.Count() && row < 5; ++row) {
            const TFile& f = Set()[static_cast<std::size_t>(row)];
            if (Form->LV.ImageIndex(row) == 1 && Form->LV.Text(row, 0) == f.Remote) {
                EXPECT_TRUE(FileExists(Prog(f.Target))) << "row " << row;
            }
        }
        WIN32_FIND_DATAA entry;
        const HANDLE find = FindFirstFileA((Dir.Path + "\\*").c_str(), &entry);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        do {
            const std::string name = entry.cFileName;
            EXPECT_TRUE(name == "." || name == ".." || name == "veldratp" || name == "QMLoader.log") // the log
                << "written outside: " << name;
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }

    void RunCase(const THostileCase& C)
    {
        SCOPED_TRACE(C.Name);
        for (const TFile& f : Set())
            DeleteFileA(Prog(f.Target).c_str());
        Form->LV.Clear(); // the rows of the last run spoke of those targets
        if (C.Prepare)
            C.Prepare();
        Boxes.Shown.clear();
        Server.Script(C.Script);
        const UINT_PTR timer = C.CancelMs ? CancelAfter(*Form, C.CancelMs) : 0;
        const auto start = std::chrono::steady_clock::now();
        Form->SBStart.Click();
        const auto took = std::chrono::steady_clock::now() - start;
        if (timer)
            KillTimer(nullptr, timer); // the run ended before Cancel
        // A guard against a run that never ends, not a speed test: the list of
        // 100,000 rows alone takes 40-65 s under Wine on a two-core machine.
        EXPECT_LT(took, std::chrono::seconds(C.CancelMs ? 4 : 150)) << "the run did not end in time";
        if (C.Message.empty()) { // an empty list: idle without a message
            EXPECT_TRUE(Boxes.Shown.empty());
        } else if (Boxes.Shown.empty()) {
            ADD_FAILURE() << "no message";
        } else if (const std::string& shown = Boxes.Shown.front().Text; C.Message.ends_with("*"))
            EXPECT_TRUE(shown.starts_with(C.Message.substr(0, C.Message.size() - 1))) << shown;
        else
            EXPECT_EQ(shown, C.Message);
        if (Boxes.Texts() == std::vector<std::string>{"Transfer finished."}) { // back to idle for the next run
            Form->SetWindowState(TaForm::TWindowState::Idle);
        } else {
            EXPECT_NE(Form->SBStart.Caption(), "&Install QM") << "the failed run offers Install";
        }
        ExpectNoWrongTarget(C.Untouched);
        if (Form->SBCancel.Caption() == "&Cancel")
            Form->SBCancel.Click();
        ExpectIdle();
        if (C.Restore)
            C.Restore();

        // The next run, against a good server, fetches what is missing.
        std::vector<TExchange> good{Ok(GoodList())};
        for (std::size_t i = 0; i < Set().size(); ++i)
            if (!FileExists(Prog(Set()[i].Target)))
                good.push_back(Ok(Set()[i].Served()));
        Boxes.Shown.clear();
        Server.Script(good);
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
        for (const TFile& f : Set())
            EXPECT_TRUE(ReadWholeFile(Prog(f.Target)) == f.Plain) << f.Target << " not in place";
        Form->SetWindowState(TaForm::TWindowState::Idle); // for the next case
    }
};

// Every answer the server can get wrong, on list.txt and on the third file.
TEST_F(HostileServerTest, MisbehavingServer)
{
    using TEnd = TExchange::TEnd;
    const std::string third = Set()[2].Served();
    const auto onThird = [](TExchange Bad) {
        std::vector<TExchange> s = GoodFrom(0);
        s[3] = std::move(Bad);
        return s;
    };
    const std::string ok = "HTTP/1.0 200 OK\r\n";
    const std::string relocate = "HTTP/1.0 302 Found\r\nLocation: /list.txt\r\n\r\n";
    std::vector<TExchange> loop(5000, Answer(relocate));
    TExchange drip{{{ok + "Content-Length: 40\r\n\r\n"}}};
    // Slower than the progress clock, so that every byte is shown.
    for (const TScriptStep& step : Pieces(std::string(40, 'd'), 1, 150))
        drip.Reply.push_back(step);
    std::vector<int> dripped;
    const THostileCase cases[] = {
        {"no status line", {Answer("Content-Length: 5\r\n\r\nhello")}, "Failed : 0 The server sent no status line"},
        {"garbage status line", {Answer("HTTP/1.0 abc\r\n\r\n")}, "Failed : 404 bad status code*"},
        {"403 on the list", {Answer("HTTP/1.0 403 Forbidden\r\n\r\n")}, "Failed : 403 Forbidden"},
        {"404 on the list", {Answer("HTTP/1.0 404 Not Found\r\n\r\n")}, "Failed : 404 Not Found"},
        {"500 on the list", {Answer("HTTP/1.0 500 Oops\r\n\r\n")}, "Failed : 500 Oops"},
        {"403 on a file", onThird(Answer("HTTP/1.0 403 Forbidden\r\n\r\n")), "Failed : 403 Forbidden"},
        {"404 on a file", onThird(Answer("HTTP/1.0 404 Not Found\r\n\r\n")), "Failed : 404 Not Found"},
        {"500 on a file", onThird(Answer("HTTP/1.1 500 Internal Server Error\r\n\r\n")),
         "Failed : 500 Internal Server Error"},
        {"64 KB header line", {Answer(ok + "X-Long: " + std::string(65536, 'x') + "\r\n\r\n")},
         "Failed : 404 response header line longer than 8191 bytes"},
        {"0 byte in a header", onThird(Answer(ok + "X-Z: a" + std::string(1, '\0') + "b\r\n\r\n" + third)),
         "Transfer finished."},
        {"empty body of the list", {Answer(ok + "Content-Length: 0\r\n\r\n")}, ""},
        {"empty body of a file", onThird(Answer(ok + "Content-Length: 0\r\n\r\n")), OneMissing},
        {"short body, then close", onThird(Answer(ok + "Content-Length: 3000\r\n\r\n" + third.substr(0, 100))),
         "Failed : 200 Connection broken: 100 of 3000 bytes received"},
        {"short body without a length", onThird(Answer(ok + "\r\n" + third.substr(0, 100))), "Failed : 200 Connection broken: 100 of the 3000 bytes listed received"},
        {"reset mid-body", onThird(Answer(ok + "Content-Length: 3000\r\n\r\n" + third.substr(0, 100), TEnd::Reset)),
         "Failed : *"},
        {"accepts, never answers", {Answer("", TEnd::WaitPeer)}, Aborted, 500},
        {"slow drip", {drip}, Aborted, 700, [&] {
             Form->HttpCli1.OnDocData = [&, &F = *Form](THttpCli&, const void*, std::int32_t) {
                 F.HttpCli1DocData();
                 dripped.push_back(F.PBar.Position());
             };
         }},
        {"relocation loop", loop, "Failed : 404 Too many relocations: more than 20"},
        {"relocation to a closed port", {Answer("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:1/x\r\n\r\n")},
         "Failed : 404 *"},
        {"huge Content-Length", {Answer(ok + "Content-Length: 99999999999999999999\r\n\r\nabc")},
         "Failed : 404 bad Content-Length in the response: '99999999999999999999'"},
        {"Content-Length beyond 4 GB", onThird(Answer(ok + "Content-Length: 5000000000\r\n\r\n" + third)),
         "Failed : 200 Connection broken: 3000 of 5000000000 bytes received"},
    };
    for (const THostileCase& c : cases)
        RunCase(c);
    ASSERT_GE(dripped.size(), 3u); // the bar moved byte by byte until Cancel
    EXPECT_EQ(dripped[2], 3);
}

std::string ReplaceAll(std::string Text, const std::string& From, const std::string& To)
{
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = Text.find(From, at)) != std::string::npos; at = hit + From.size())
        out += Text.substr(at, hit - at) + To;
    return out + Text.substr(at);
}

// Broken and hostile lists and compressed files, and targets that cannot be
// written.
TEST_F(HostileServerTest, BrokenListsFilesAndTargets)
{
    const std::string list = GoodList();
    const auto withList = [](const std::string& List, std::size_t Files = 5) {
        std::vector<TExchange> s = GoodFrom(0, List);
        s.resize(Files + 1);
        return s;
    };
    const auto withSecond = [](const std::string& Bytes) {
        std::vector<TExchange> s = GoodFrom(0);
        s[2] = Ok(Bytes);
        return s;
    };
    const std::string packed = Set()[1].Served();
    std::string corrupt = packed;
    for (std::size_t i = 8; i < corrupt.size(); i += 7)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    const std::string huge = std::string("!HZL\xFF\xFF\xFF\x7F", 8) + std::string(16, '\xA5');
    const std::string extra = ListLine("x", "1", "1", "x.bin", "", "");
    std::string lines100k = list;
    const std::string absentLine = "n\t1\t-1\tn.bin\t{prog}\\absent\t\r\n"; // complete: nothing is there
    for (int i = 0; i < 100000; ++i)
        lines100k.append(absentLine);
    const std::string badName = "The file list names a file it cannot use in line 3 of the file list: the remote name *";
    std::vector<TExchange> missingField = GoodFrom(0, list + extra + "\r\n");
    missingField.push_back(Ok("x"));
    const std::string three = Prog("three.txt");
    const auto readOnly = [&] {
        WriteTextFile(three, "old");
        SetFileAttributesA(three.c_str(), FILE_ATTRIBUTE_READONLY);
    };
    HANDLE inUse = INVALID_HANDLE_VALUE;
    const THostileCase cases[] = {
        {"lines without TAB", withList("no tab\r\n" + list, 0), "The installed size in line 1 *"},
        {"non-numeric installed size", withList(ReplaceAll(list, "\t3000\tthree", "\t3k\tthree"), 0),
         "The installed size in line 3 of the file list is not a number: \"3k\""},
        {"non-numeric download size", withList(ReplaceAll(list, "one.dat\t10\t", "one.dat\tabc\t")), "Transfer finished."},
        {"..\\ in a remote name", withList(ReplaceAll(list, "\tthree.dat\t", "\t..\\three.dat\t"), 0), badName},
        {"/ in a remote name", withList(ReplaceAll(list, "\tthree.dat\t", "\tx/three.dat\t"), 0), badName},
        {"missing fields", missingField,
         "The file list gives a target it cannot use in line 6 of the file list: the target path is empty"},
        {"CR-only line ends", withList(ReplaceAll(list, "\r\n", "\r")), "Transfer finished."},
        {"a 0 byte", withList(list.substr(0, list.find("three")) + std::string(1, '\0') + "x\t1", 2),
         "Transfer finished."},
        {"100,000 lines", withList(lines100k), "Transfer finished."},
        {"corrupt compressed file", withSecond(corrupt), OneMissing},
        {"truncated compressed file", withSecond(packed.substr(0, packed.size() / 2)), OneMissing},
        {"compressed file declaring 2 GB", withSecond(huge), OneMissing},
        {"target folder missing", GoodFrom(0), "1 file could not be put in place.\r\nThe folder for the file does not exist: *", 0,
         [&] { RemoveTree(Prog("sub")); },
         [&] { CreateDirectoryA(Prog("sub").c_str(), nullptr); }},
        {"a download in use under its own name", GoodFrom(0), "The file is in use by another program and cannot be replaced: *",
         0, [&] { inUse = CreateFileA(Prog("three.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr); },
         [&] { CloseHandle(inUse); }},
        // Refused on Windows; Wine run as root writes it all the same.
        {"read-only target", GoodFrom(0), "*", 0, readOnly,
         [&] {
             const std::string held = ReadWholeFile(three);
             EXPECT_TRUE(held == "old" || held == Set()[2].Plain);
             SetFileAttributesA(three.c_str(), FILE_ATTRIBUTE_NORMAL);
             DeleteFileA(three.c_str());
         },
         "three.txt"},
    };
    for (const THostileCase& c : cases)
        RunCase(c);
}

} // namespace
} // namespace qm::test
