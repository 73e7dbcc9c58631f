#include "app/Extra.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// A target found under another letter case is replaced under the target's own
// name, and kept when the new file cannot take its place; a folder that is
// missing and a path too long say so.
TEST_F(CopyFileTo, ReplaceFileWithKeepsTheOldFileUntilTheNewOneIsInPlace)
{
    const std::string longName(300, 'l');
    const struct {
        const char* Existing; // with "old" in it, or nullptr
        bool Temporary;       // "new" waits in tmp.qm-part
        std::string Target;
        const char* Message;  // its start, or nullptr for success
        const char* Left;     // the name (letter case too) at the target afterwards, or nullptr for none
        const char* Content;
    } cases[] = {
        {"Old.txt", true, "old.txt", nullptr, "old.txt", "new"},
        {"Old.txt", false, "old.txt", "Cannot replace the file (error #2): ", "Old.txt", "old"},
        {"same.txt", true, "same.txt", nullptr, "same.txt", "new"},
        {nullptr, true, "no-dir\\x.txt", "The folder for the file does not exist: ", nullptr, ""},
        {nullptr, true, longName, "The path of the file is longer than Windows allows: ", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Target.substr(0, 20));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (c.Existing)
            Write(PathOf(c.Existing), "old");
        if (c.Temporary)
            Write(PathOf("tmp.qm-part"), "new");
        const std::string target = PathOf(c.Target.c_str());
        const std::optional<std::string> refused = qm::ReplaceFileWith(PathOf("tmp.qm-part"), target);
        EXPECT_EQ(refused.value_or("").find(c.Message ? c.Message : "-"), c.Message ? 0u : std::string::npos) << refused.value_or("(none)");
        WIN32_FIND_DATAA found;
        const HANDLE find = FindFirstFileA(target.c_str(), &found);
        EXPECT_EQ(find != INVALID_HANDLE_VALUE ? std::string(found.cFileName) : "", c.Left ? c.Left : "");
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        EXPECT_EQ(Read(target), c.Content);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), (c.Left ? 1 : 0) + (c.Temporary && c.Message ? 1 : 0));
    }
}

} // namespace
