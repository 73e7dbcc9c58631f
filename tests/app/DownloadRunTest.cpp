// The download run without a window, against the scripted server: what one
// file's road leaves on disk when the server lies about it, and what the run
// reports.
#include "LoaderRunFixture.h"

#include "app/DownloadRun.h"
#include "app/Extra.h"
#include "base/ExtraStr.h"

namespace qm::test {
namespace {

using TKind = TRunOutcome::TKind;

struct TRunCase {
    const char* Name;
    std::vector<std::string> Lines;
    std::vector<TExchange> Answers;
    TKind Kind;
    std::string Message;
    // Files afterwards, in the download directory or, after "{sys}\\", in
    // the system one: name and bytes, or absent when the bytes are "-".
    std::vector<std::pair<std::string, std::string>> Files;
    std::vector<std::pair<std::string, std::string>> Before = {}; // files there at the start
    const char* Locked = nullptr; // held open, unshared, during the run
    bool SkippedOnRerun = true;   // false: the loading rule fetches it again
    bool FullDisk = false; // downloads into a folder on the full disk, {sys} is its root
    bool SysElsewhere = false; // {sys} is a folder on another volume (in memory)
};

TEST(DownloadRun, NothingHalfWrittenCarriesAFinalName)
{
    const std::string more = "The server sent more than the 3 bytes the file list gives for this file";
    const std::string big(16 * 1024 * 1024 + 1, 'x');
    // A real full disk (full_disk_test.sh maps 1 MiB as QM_FULL_DISK); "over" overflows it by one byte, at the last flush.
    const char* full = std::getenv("QM_FULL_DISK");
    ULARGE_INTEGER room{};
    ASSERT_TRUE(!full || GetDiskFreeSpaceExA((std::string(full) + "\\").c_str(), &room, nullptr, nullptr));
    const std::string huge(3 << 20, 'h'), over(full ? room.QuadPart - 4095 : 0, 'o'), packed = Compressed(huge),
                      disk = "The disk is full or cannot be written: ";
    const TRunCase cases[] = {
        {"a self-target cut short at its listed size",
         {ListLine("Setup", "2", "2", "setup.exe", "{prog}\\setup.exe", "")},
         {Raw("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nZZ")}, TKind::DownloadFailed,
         "Failed : 200 Connection broken: 2 of 3 bytes received", {{"setup.exe", "-"}, {"unfinished.qm-part\\setup.exe.qm-part", "ZZ"}}},
        {"a body longer than listed", {ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", "")}, {Raw("HTTP/1.0 200 OK\r\n\r\nabcdef")},
         TKind::DownloadFailed, "Failed : 404 " + more, {{"a.bin", "-"}, {"a.txt", "-"}}},
        {"vcl30.dpl listed as 0 is placed and kept", {ListLine("V", "5", "0", "v.bin", "{prog}\\vcl30.dpl", "")},
         {Ok("12345")}, TKind::Finished, "", {{"vcl30.dpl", "12345"}, {"unfinished.qm-part\\vcl30.dpl.qm-part", "-"}}},
        {"a copy of the wrong size is not placed", {ListLine("A", "3", "4", "a.bin", "{prog}\\a.txt", "")},
         {Ok("abc")}, TKind::NotPlaced, "", {{"a.bin", "abc"}, {"a.txt", "-"}, {"unfinished.qm-part\\a.txt.qm-part", "-"}}},
        {"a remote name of a temporary", {ListLine("A", "3", "3", "a.QM-Part", "{prog}\\a.txt", "")}, {},
         TKind::LocalError,
         "The file list names a file it cannot use in line 1 of the file list: the remote name \"a.QM-Part\" "
         "ends in \".qm-part\", which is kept for unfinished files", {}},
        {"a list over 16 MiB", {}, {Ok(big)}, TKind::DownloadFailed, "Failed : 404 The file list is larger than 16 MiB",
         {{"list.txt", "-"}}},
        {"vcl30.dpl listed with its size", {ListLine("V", "5", "5", "v.bin", "{prog}\\vcl30.dpl", "")}, {Ok("12345")},
         TKind::Finished, "", {{"vcl30.dpl", "12345"}}, {}, nullptr, false},
        {"A.TXT on disk", {ListLine("A", std::to_string(Compressed("abc").size()), "3", "a", "{prog}\\a.txt", "yes")},
         {Ok(Compressed("abc"))}, TKind::Finished, "", {{"a.txt", "abc"}}, {{"A.TXT", "old!"}}},
        {"installed size -1 over a target", {ListLine("A", "3", "-1", "a.bin", "{prog}\\a.txt", "")}, {Ok("abc")},
         TKind::Finished, "", {{"a.txt", "abc"}}, {{"a.txt", "old"}}, nullptr, false},
        {"a header stating more than listed", {ListLine("D", std::to_string(Compressed("abc").size()), "2", "d", "{prog}\\d.txt", "yes")},
         {Ok(Compressed("abc"))}, TKind::NotPlaced, "", {{"d.txt", "-"}, {"unfinished.qm-part\\d.txt.qm-part", "-"}}},
        {"a target in use", {ListLine("A", "3", "3", "a.bin", "{prog}\\a.txt", "")}, {Ok("abc")}, TKind::NotPlaced,
         "The file is in use by another program and cannot be replaced: {dir}\\a.txt",
         {{"a.txt", "old!"}, {"unfinished.qm-part\\a.txt.qm-part", "-"}}, {{"a.txt", "old!"}}, "a.txt"},
        {"a download", {ListLine("H", std::to_string(huge.size()), "1", "b", "{prog}\\x", "")}, {Ok(huge)},
         TKind::LocalError, disk + "{dir}\\b", {{"b", "-"}, {"unfinished.qm-part\\b.qm-part", "-"}}, {}, nullptr, true, true},
        {"a download one byte over", {ListLine("O", std::to_string(over.size()), "1", "b", "{prog}\\x", "")}, {Ok(over)},
         TKind::LocalError, disk + "{dir}\\b", {{"b", "-"}, {"unfinished.qm-part\\b.qm-part", "-"}}, {}, nullptr, true, true},
        {"a copy", {ListLine("P", "600000", "600000", "b", "{sys}\\x", "")}, {Ok(std::string(600000, 'p'))},
         TKind::NotPlaced, disk + "{sys}\\x", {{"..\\x", "-"}, {"unfinished.qm-part\\x.qm-part", "-"}}, {}, nullptr, true, true},
        {"a decoding", {ListLine("D", std::to_string(packed.size()), "3145728", "b", "{sys}\\x", "yes")}, {Ok(packed)},
         TKind::NotPlaced, disk + "{sys}\\x", {{"..\\x", "-"}, {"unfinished.qm-part\\x.qm-part", "-"}}, {}, nullptr, true, true},
        // A move cannot leave a volume: the bytes are carried beside the target.
        {"a decoding onto another volume", {ListLine("D", std::to_string(Compressed("abc").size()), "3", "d", "{sys}\\x", "yes")},
         {Ok(Compressed("abc"))}, TKind::Finished, "", {{"{sys}\\x", "abc"}, {"{sys}\\x.qm-part", "-"}, {"unfinished.qm-part\\x.qm-part", "-"}},
         {}, nullptr, true, false, true},
        {"a target in use on another volume", {ListLine("A", "3", "3", "a.bin", "{sys}\\x", "")}, {Ok("abc")},
         TKind::NotPlaced, "The file is in use by another program and cannot be replaced: {sys}\\x",
         {{"{sys}\\x", "old!"}, {"{sys}\\x.qm-part", "-"}, {"unfinished.qm-part\\x.qm-part", "-"}}, {{"{sys}\\x", "old!"}}, "{sys}\\x", true, false, true},
    };
    const std::string elsewhere = "Z:\\dev\\shm\\qm-" + std::to_string(GetCurrentProcessId()); // a folder in memory
    for (const TRunCase& c : cases) {
        if (c.FullDisk && !full)
            continue;
        SCOPED_TRACE(c.Name);
        TTempCurrentDirectory dir;
        ASSERT_TRUE(!c.SysElsewhere || CreateDirectoryA(elsewhere.c_str(), nullptr));
        TScriptedServer server;
        std::vector<TExchange> answers = c.Answers;
        if (!c.Lines.empty())
            answers.insert(answers.begin(), Ok(ListText(c.Lines)));
        server.Script(answers);
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = c.FullDisk ? std::string(full) + "\\dl" : dir.Path;
        run.SystemDir = c.FullDisk ? std::string(full) : c.SysElsewhere ? elsewhere : dir.Path;
        CreateDirectoryA(run.DownloadDir.c_str(), nullptr);
        const auto at = [&](const std::string& Name) {
            return Name.starts_with("{sys}\\") ? run.SystemDir + Name.substr(5) : run.DownloadDir + "\\" + Name;
        };
        for (const auto& [name, bytes] : c.Before)
            WriteTextFile(at(name), bytes);
        const HANDLE locked =
            CreateFileA(at(c.Locked ? c.Locked : "-").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        run.Retry.Attempts = 1; // each answer is the last word on its request
        const TRunOutcome outcome = run.Execute();
        CloseHandle(locked);
        std::string message = c.Message;
        ReplaceFirst(message, "{dir}", run.DownloadDir);
        ReplaceFirst(message, "{sys}", run.SystemDir);
        EXPECT_EQ(outcome.Kind, c.Kind);
        EXPECT_EQ(outcome.Message, message);
        for (const auto& [name, bytes] : c.Files)
            EXPECT_EQ(NameOnDisk(at(name)) + ReadWholeFile(at(name)), bytes == "-" ? "" : FileNameOf(name) + bytes);
        if (c.Kind == TKind::Finished && c.SkippedOnRerun) { // a rerun judges every row complete
            server.Script({Ok(ListText(c.Lines))});
            EXPECT_EQ(run.Execute().Kind, TKind::Finished);
            EXPECT_EQ(server.Requests().size(), 1 + answers.size());
        }
        if (c.FullDisk || c.SysElsewhere)
            RemoveTree(c.FullDisk ? run.DownloadDir : elsewhere);
    }
}

// Names that fit beside their files but not in the folder of temporaries:
// their temporaries lie beside them, and nothing of them is left.
TEST(DownloadRun, TemporariesTooLongForTheirFolderLieBeside)
{
    TTempCurrentDirectory dir;
    const std::size_t room = MaxPathLength - dir.Path.size() - 1 - TemporarySuffix.size();
    const std::string remote(room, 'r'), target(room, 't'), packed = Compressed("abc");
    TScriptedServer server;
    server.Script({Ok(ListText({ListLine("L", std::to_string(packed.size()), "3", remote, "{prog}\\" + target, "yes")})), Ok(packed)});
    TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
    run.DownloadDir = run.SystemDir = dir.Path;
    EXPECT_EQ(run.Execute().Kind, TKind::Finished);
    EXPECT_EQ(ReadWholeFile(dir.Path + "\\" + target), "abc");
    EXPECT_EQ(ReadWholeFile(dir.Path + "\\" + remote), packed);
    for (const std::string& name : {TemporaryName(remote), TemporaryName(target), std::string(UnfinishedFolderName)})
        EXPECT_FALSE(FileExists(dir.Path + "\\" + name)) << name;
}

} // namespace
} // namespace qm::test
