// A real full disk: full_disk_test.sh mounts a 1 MiB file system and maps it
// to the drive that QM_FULL_DISK names ("Q:"); without it this is skipped.
// A download and a placement that do not fit end with the message, and
// leave nothing of the file on the disk.
#include "LoaderRunFixture.h"

#include "app/DownloadRun.h"

#include <cstdlib>

namespace qm::test {
namespace {

using TKind = TRunOutcome::TKind;

TEST(FullDisk, AFileThatDoesNotFitEndsWithTheMessage)
{
    const char* drive = std::getenv("QM_FULL_DISK");
    if (!drive)
        GTEST_SKIP() << "no full disk mapped (tests/app/full_disk_test.sh maps one)";
    const std::string disk = std::string(drive) + "\\";
    ULARGE_INTEGER room{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(disk.c_str(), &room, nullptr, nullptr));
    const std::string big(3 << 20, 'b');
    // Downloaded into a folder on the disk, whose list takes one 4 KiB page:
    // one byte more than is left is found at the last flush at the latest.
    const std::string justOver(static_cast<std::size_t>(room.QuadPart) - 4096 + 1, 'j');
    const struct {
        const char* Name;
        bool DownloadsOnDisk;
        std::string Served, Line, Message;
    } cases[] = {
        {"a download", true, big, ListLine("B", std::to_string(big.size()), "1", "big.bin", "{prog}\\big.out", ""),
         "The disk is full or cannot be written: " + disk + "dl\\big.bin"},
        {"a download one byte over", true, justOver,
         ListLine("B", std::to_string(justOver.size()), "1", "big.bin", "{prog}\\big.out", ""),
         "The disk is full or cannot be written: " + disk + "dl\\big.bin"},
        {"a copy", false, big, ListLine("B", std::to_string(big.size()), std::to_string(big.size()), "big.bin",
                                        disk + "big.out", ""),
         "The disk is full or cannot be written: " + disk + "big.out"},
        {"a decoding", false, Compressed(big),
         ListLine("B", std::to_string(Compressed(big).size()), std::to_string(big.size()), "big.bin", disk + "big.out",
                  "yes"),
         "The disk is full or cannot be written: " + disk + "big.out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempCurrentDirectory dir;
        const std::string downloads = c.DownloadsOnDisk ? disk + "dl" : dir.Path;
        CreateDirectoryA(downloads.c_str(), nullptr);
        TScriptedServer server;
        server.Script({Ok(ListText({c.Line})), Ok(c.Served)});
        TDownloadRun run([&] { return "http://" + server.Address() + "/"; }, "");
        run.DownloadDir = downloads;
        run.SystemDir = downloads;
        const TRunOutcome outcome = run.Execute();
        EXPECT_EQ(outcome.Kind, c.DownloadsOnDisk ? TKind::LocalError : TKind::NotPlaced);
        EXPECT_EQ(outcome.Message, c.Message);
        for (const std::string& left : {downloads + "\\big.bin.qm-part", disk + "big.out", disk + "big.out.qm-part"})
            EXPECT_FALSE(FileExists(left)) << left;
        if (c.DownloadsOnDisk)
            RemoveTree(downloads);
    }
}

} // namespace
} // namespace qm::test
