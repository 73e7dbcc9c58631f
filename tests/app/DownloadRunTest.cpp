// The download run without a window, against the scripted server: what one
// file's road leaves on disk when the server lies about it, and what the run
// reports.
#include "LoaderRunFixture.h"

#include "app/DownloadRun.h"

namespace qm::test {
namespace {

using TKind = TRunOutcome::TKind;

struct TRunCase {
    const char* Name;
    std::vector<std::string> Lines;
    std::vector<TExchange> Answers;
    TKind Kind;
    std::string Message;
    // Files in the download directory afterwards: name and bytes, or
    // absent when the bytes are "-".
    std::vector<std::pair<std::string, std::string>> Files;
};

TEST(DownloadRun, NothingHalfWrittenCarriesAFinalName)
{
    const std::string more = "The server sent more than the 3 bytes the file list gives for this file";
    const std::string big(16 * 1024 * 1024 + 1, 'x');
    const TRunCase cases[] = {
        {"a self-target cut short at its listed size",
         {ListLine("Setup", "2", "2", "setup.exe", "{prog}\\setup.exe", "")},
         {Raw("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nZZ")}, TKind::DownloadFailed,
         "Failed : 200 Connection broken: 2 of 3 bytes received", {{"setup.exe", "-"}, {"setup.exe.qm-part", "ZZ"}}},
        {"a body longer than listed", {ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", "")}, {Raw("HTTP/1.0 200 OK\r\n\r\nabcdef")},
         TKind::DownloadFailed, "Failed : 404 " + more, {{"a.bin", "-"}, {"a.txt", "-"}}},
        {"vcl30.dpl listed as 0 is placed and kept", {ListLine("V", "5", "0", "v.bin", "{prog}\\vcl30.dpl", "")},
         {Ok("12345")}, TKind::Finished, "", {{"vcl30.dpl", "12345"}, {"vcl30.dpl.qm-part", "-"}}},
        {"a copy of the wrong size is not placed", {ListLine("A", "3", "4", "a.bin", "{prog}\\a.txt", "")},
         {Ok("abc")}, TKind::NotPlaced, "", {{"a.bin", "abc"}, {"a.txt", "-"}, {"a.txt.qm-part", "-"}}},
        {"a remote name of a temporary", {ListLine("A", "3", "3", "a.QM-Part", "{prog}\\a.txt", "")}, {},
         TKind::LocalError,
         "The file list names a file it cannot use in line 1 of the file list: the remote name \"a.QM-Part\" "
         "ends in \".qm-part\", which is kept for unfinished files", {}},
        {"a list over 16 MiB", {}, {Ok(big)}, TKind::DownloadFailed, "Failed : 404 The file list is larger than 16 MiB",
         {{"list.txt", "-"}}},
    };
    for (const TRunCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempCurrentDirectory dir;
        TScriptedServer server;
        std::vector<TExchange> answers = c.Answers;
        if (!c.Lines.empty())
            answers.insert(answers.begin(), Ok(ListText(c.Lines)));
        server.Script(answers);
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = dir.Path;
        run.SystemDir = dir.Path;
        run.Retry.Attempts = 1; // each answer is the last word on its request
        const TRunOutcome outcome = run.Execute();
        EXPECT_EQ(outcome.Kind, c.Kind);
        EXPECT_EQ(outcome.Message, c.Message);
        for (const auto& [name, bytes] : c.Files)
            if (bytes == "-")
                EXPECT_FALSE(FileExists(dir.Path + "\\" + name)) << name;
            else
                EXPECT_EQ(ReadWholeFile(dir.Path + "\\" + name), bytes) << name;
        if (c.Kind == TKind::Finished) { // a rerun judges every row complete
            server.Script({Ok(ListText(c.Lines))});
            EXPECT_EQ(run.Execute().Kind, TKind::Finished);
            EXPECT_EQ(server.Requests().size(), 1 + answers.size());
        }
    }
}

} // namespace
} // namespace qm::test
