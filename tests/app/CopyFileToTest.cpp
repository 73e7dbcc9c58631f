#include "app/Extra.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

namespace {

namespace fs = std::filesystem;

// A fresh directory under the temporary directory, removed afterwards.
class CopyFileTo : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qm-copy-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const char* name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& data)
    {
        std::ofstream(path, std::ios::binary) << data;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
};

TEST_F(CopyFileTo, CopiesToANewFile)
{
    const std::string data("bytes\0\r\n\xFF", 10);
    Write(PathOf("src.bin"), data);
    EXPECT_TRUE(qm::CopyFileTo(PathOf("src.bin"), PathOf("dst.bin"), true));
    EXPECT_EQ(Read(PathOf("dst.bin")), data);
    EXPECT_EQ(Read(PathOf("src.bin")), data);
}

TEST_F(CopyFileTo, FailIfExistsKeepsTheExistingFile)
{
    Write(PathOf("src.bin"), "new");
    Write(PathOf("dst.bin"), "old contents");
    EXPECT_FALSE(qm::CopyFileTo(PathOf("src.bin"), PathOf("dst.bin"), true));
    EXPECT_EQ(Read(PathOf("dst.bin")), "old contents");
}

TEST_F(CopyFileTo, OverwritesWhenAllowed)
{
    Write(PathOf("src.bin"), "new");
    Write(PathOf("dst.bin"), "old contents");
    EXPECT_TRUE(qm::CopyFileTo(PathOf("src.bin"), PathOf("dst.bin"), false));
    EXPECT_EQ(Read(PathOf("dst.bin")), "new");
}

TEST_F(CopyFileTo, MissingSourceFailsAndCreatesNothing)
{
    EXPECT_FALSE(qm::CopyFileTo(PathOf("absent.bin"), PathOf("dst.bin"), false));
    EXPECT_FALSE(fs::exists(PathOf("dst.bin")));
}

TEST_F(CopyFileTo, MissingTargetDirectoryFails)
{
    Write(PathOf("src.bin"), "x");
    EXPECT_FALSE(qm::CopyFileTo(PathOf("src.bin"), PathOf("no-dir\\dst.bin"), false));
}

} // namespace

namespace {

// Replacing under another letter case keeps the old file until the new one is in place.
TEST_F(CopyFileTo, ReplaceFileWithKeepsTheOldFileUntilTheNewOneIsInPlace)
{
    for (const auto& [temporary, message, left] : {std::tuple{true, "", "old.txtnew"}, {false, "Cannot replace the file (error #2): ", "Old.txtold"}}) {
        Write(PathOf("Old.txt"), "old");
        if (temporary)
            Write(PathOf("tmp.qm-part"), "new");
        EXPECT_EQ(qm::ReplaceFileWith(PathOf("tmp.qm-part"), PathOf("old.txt")).value_or(""), message + (*message ? PathOf("old.txt") : ""));
        WIN32_FIND_DATAA found{};
        FindClose(FindFirstFileA(PathOf("old.txt").c_str(), &found));
        EXPECT_EQ(found.cFileName + Read(PathOf("old.txt")), left);
        DeleteFileA(PathOf("old.txt").c_str());
    }
}

} // namespace
