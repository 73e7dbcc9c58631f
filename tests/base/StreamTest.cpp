#include "base/Stream.h"
#include "base/StringList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(MemoryStream, WritesThenReadsBackFromPosition)
{
    qm::TMemoryStream s;
    EXPECT_EQ(s.Write("hello", 5), 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Position(), 5);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 0);
    s.Seek(1);
    EXPECT_EQ(s.Read(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "ello");
    s.Seek(3);
    s.Write("LOW", 3);
    EXPECT_EQ(s.AsString(), "helLOW");
}

TEST(FileStream, CreateTruncatesAndOpenReadsBack)
{
    const std::string path = "stream_test.tmp";
    {
        qm::TFileStream f(path, qm::TFileStream::Mode::Create);
        f.Write("0123456789", 10);
    }
    {
        qm::TFileStream f(path, qm::TFileStream::Mode::Create);
        EXPECT_EQ(f.Size(), 0);
        EXPECT_EQ(f.Write("ab\r\ncd\n", 7), 7);
        EXPECT_EQ(f.Size(), 7);
        EXPECT_EQ(f.Position(), 7);
    }
    qm::TStringList list;
    list.LoadFromFile(path);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "cd");
    {
        qm::TFileStream f(path, qm::TFileStream::Mode::OpenRead);
        char buf[16];
        EXPECT_EQ(f.Read(buf, 16), 7);
        EXPECT_EQ(f.Read(buf, 16), 0);
        EXPECT_EQ(f.Write("x", 1), 0); // read-only
    }
    std::remove(path.c_str());
}

TEST(FileStream, FailuresNameThePath)
{
    try {
        qm::TFileStream f("missing-dir/x.bin", qm::TFileStream::Mode::OpenRead);
        FAIL() << "opened a missing file";
    } catch (const qm::EStreamError& e) {
        EXPECT_EQ(e.Message, "Cannot open file missing-dir/x.bin");
    }
    EXPECT_THROW(qm::TFileStream("missing-dir/x.bin", qm::TFileStream::Mode::Create), qm::EStreamError);
}

} // namespace
