// The file component over real files and memory streams: the header, the
// 32 KiB blocks, the message hook, and every failure with its exact text.
#include "TestData.h"

#include "base/Stream.h"
#include "lzh/LzhBytes.h"
#include "lzh/LzhD.h"
#include "lzh/LzhError.h"
#include "lzh/LzhFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using lzhtest::Bytes;

const char* const SizeMismatch = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path)
{
    return std::ifstream(path).good();
}

// The message of the ELzrw1Exception (or the codec's ElzhException) an
// operation must raise.
std::string FailureText(qm::TLzhD& lzh, bool compress)
{
    try {
        compress ? lzh.Compress() : lzh.Decompress();
    } catch (const qm::ELzrw1Exception& e) {
        return e.Message;
    } catch (const qm::ElzhException& e) {
        return e.Message;
    }
    ADD_FAILURE() << "no ELzrw1Exception or ElzhException";
    return {};
}

// Files named after the test, removed again at its end.
class LzhDFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        in = "lzhd_" + name + ".in";
        out = "lzhd_" + name + ".out";
        lzh.InputFile = in;
        lzh.OutputFile = out;
    }
    void TearDown() override
    {
        std::remove(in.c_str());
        std::remove(out.c_str());
    }

    std::string ExpectFailure(bool compress) { return FailureText(lzh, compress); }

    std::string in;
    std::string out;
    qm::TLzhD lzh;
};

TEST_F(LzhDFiles, CompressWritesHeaderAndDecompressRestores)
{
    const Bytes data = lzhtest::WordText(100000, 7);
    WriteFile(in, data);
    const std::int64_t written = lzh.Compress();
    const Bytes packed = ReadFile(out);
    ASSERT_EQ(written, static_cast<std::int64_t>(packed.size()));
    EXPECT_EQ(packed.size(), 8U + 20473U);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "!HZL");
    EXPECT_EQ(Bytes(packed.begin() + 4, packed.begin() + 8), (Bytes{0xA0, 0x86, 0x01, 0x00})); // 100000
    EXPECT_EQ(Bytes(packed.begin() + 8, packed.end()), lzhtest::Encode(data));

    WriteFile(in, packed);
    EXPECT_EQ(lzh.Decompress(), 100000);
    EXPECT_EQ(lzh.UncompressedSize(), 100000);
    EXPECT_TRUE(ReadFile(out) == data);
}

TEST_F(LzhDFiles, EmptyFileCompressesToHeaderAndOneLiteral)
{
    WriteFile(in, {});
    EXPECT_EQ(lzh.Compress(), 10);
    EXPECT_EQ(ReadFile(out), (Bytes{'!', 'H', 'Z', 'L', 0, 0, 0, 0, 0xd6, 0x00}));
    WriteFile(in, ReadFile(out));
    WriteFile(out, {'o', 'l', 'd'});
    EXPECT_EQ(lzh.Decompress(), 0);
    EXPECT_TRUE(Exists(out));
    EXPECT_TRUE(ReadFile(out).empty());
}

TEST_F(LzhDFiles, AnySignatureIsAccepted)
{
    WriteFile(in, {'X', 'Y', 'Z', '!', 4, 0, 0, 0, 0xf6, 0xc6, 0x00, 0x00});
    EXPECT_EQ(lzh.Decompress(), 4);
    EXPECT_EQ(ReadFile(out), lzhtest::FromString("aaaa"));
}

TEST_F(LzhDFiles, MissingInputNamesThePathAndCreatesNothing)
{
    lzh.InputFile = "no-such-dir/x.lzh";
    EXPECT_EQ(ExpectFailure(false), "Error:inputno-such-dir/x.lzh");
    EXPECT_EQ(ExpectFailure(true), "Error:inputno-such-dir/x.lzh");
    EXPECT_FALSE(Exists(out));
}

TEST_F(LzhDFiles, UncreatableOutputNamesThePath)
{
    WriteFile(in, lzhtest::FromString("data"));
    lzh.OutputFile = "no-such-dir/y.out";
    EXPECT_EQ(ExpectFailure(true), "Error:outputno-such-dir/y.out");
    EXPECT_EQ(ExpectFailure(false), "Error:outputno-such-dir/y.out");
    lzh.OutputFile = out; // created, but not closed
    lzh.CloseOutputFile = [](qm::lzh::TLzhFile& File) { return !File.Close(); }; // closed, reported failed
    EXPECT_EQ(ExpectFailure(true), "Error writing to output file : " + out);
    EXPECT_FALSE(Exists(out));
}

TEST_F(LzhDFiles, ShortHeaderFailsAndDeletesTheOutput)
{
    WriteFile(in, {'!', 'H', 'Z', 'L', 1});
    EXPECT_EQ(ExpectFailure(false), "Error reading from input file : " + in);
    EXPECT_FALSE(Exists(out));
}

TEST_F(LzhDFiles, OvershootingLastMatchFailsAndDeletesTheOutput)
{
    // "aaaa" coded, but a header that claims 2 bytes: the match makes 4.
    WriteFile(in, {'!', 'H', 'Z', 'L', 2, 0, 0, 0, 0xf6, 0xc6, 0x00, 0x00});
    EXPECT_EQ(ExpectFailure(false), SizeMismatch);
    EXPECT_FALSE(Exists(out));
}

Bytes WithStoredSize(Bytes packed, std::uint32_t size)
{
    for (unsigned i = 0; i < 4; ++i)
        packed[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return packed;
}

// A stored size the stream cannot hold, or a stream cut short, stops the
// decoder at the end of the input: no 2 GB of zeros on the disk, and the
// half-written output is removed.
TEST_F(LzhDFiles, SizeBeyondTheStreamFailsAndDeletesTheOutput)
{
    const Bytes data = lzhtest::RandomBytes(5000, 4);
    const Bytes packed = qm::LzhCompressBytes(data);
    const Bytes cut(packed.begin(), packed.end() - 10);
    for (const Bytes& file : {WithStoredSize(packed, 0x7FFFFFFF), WithStoredSize(packed, 5001), cut,
                              WithStoredSize(cut, 0x7FFFFFFF)}) {
        WriteFile(in, file);
        EXPECT_EQ(ExpectFailure(false), qm::lzh::TruncatedStreamText);
        EXPECT_FALSE(Exists(out));
    }
}

// ---- stream mode ------------------------------------------------------------

// Records every write and lets a chosen one come back short.
class TRecordingStream : public qm::TMemoryStream {
public:
    std::int32_t Write(const void* buffer, std::int32_t count) override
    {
        Writes.push_back(count);
        if (static_cast<int>(Writes.size()) == FailAt)
            return count - 1;
        return qm::TMemoryStream::Write(buffer, count);
    }
    std::vector<std::int32_t> Writes;
    int FailAt = 0;
};

// Fails its reads, or claims a size the format cannot store.
class TBrokenInput : public qm::TMemoryStream {
public:
    using qm::TMemoryStream::TMemoryStream;
    std::int32_t Read(void* buffer, std::int32_t count) override
    {
        return FailReads ? -1 : qm::TMemoryStream::Read(buffer, count);
    }
    std::int64_t Size() const override { return ClaimedSize != -1 ? ClaimedSize : qm::TMemoryStream::Size(); }
    bool FailReads = false;
    std::int64_t ClaimedSize = -1;
};

class LzhDStreams : public ::testing::Test {
protected:
    void SetUp() override
    {
        lzh.UseStream = true;
        lzh.OutputStream = &output;
    }
    std::string ExpectFailure(bool compress) { return FailureText(lzh, compress); }
    qm::TLzhD lzh;
    TRecordingStream output;
};

TEST_F(LzhDStreams, OutputGoesOutInWholeBlocks)
{
    const struct {
        std::size_t size;
        std::vector<std::int32_t> writes;
    } cases[] = {{0, {0}}, {32768, {32768}}, {32769, {32768, 1}}, {70000, {32768, 32768, 4464}}};
    for (const auto& c : cases) {
        qm::TMemoryStream packed(qm::LzhCompressBytes(lzhtest::Runs(c.size, 8)));
        lzh.InputStream = &packed;
        output.Writes.clear();
        output.Clear();
        EXPECT_EQ(lzh.Decompress(), static_cast<std::int64_t>(c.size));
        EXPECT_EQ(output.Writes, c.writes) << c.size;
        EXPECT_TRUE(output.Bytes() == lzhtest::Runs(c.size, 8));
    }
}

TEST_F(LzhDStreams, CompressWritesTheHeaderDirectlyThenBlocks)
{
    qm::TMemoryStream input(lzhtest::RandomBytes(40000, 6));
    lzh.InputStream = &input;
    const std::int64_t written = lzh.Compress();
    ASSERT_EQ(output.Writes.size(), 4U);
    EXPECT_EQ(output.Writes[0], 4);
    EXPECT_EQ(output.Writes[1], 4);
    EXPECT_EQ(output.Writes[2], 32768);
    EXPECT_EQ(written, 8 + 32768 + output.Writes[3]);
}

TEST_F(LzhDStreams, ReadsAndWritesAtTheStreamsPositions)
{
    const Bytes data = lzhtest::WordText(3000, 1);
    Bytes framed(7, 'x');
    const Bytes packed = qm::LzhCompressBytes(data);
    framed.insert(framed.end(), packed.begin(), packed.end());
    qm::TMemoryStream input(framed);
    input.Seek(7);
    output.Write("pre", 3);
    lzh.InputStream = &input;
    EXPECT_EQ(lzh.Decompress(), 3000);
    EXPECT_EQ(output.AsString(), "pre" + std::string(data.begin(), data.end()));
}

// The stored size is the whole stream's, wherever its position is.
TEST_F(LzhDStreams, CompressStoresTheInputStreamsTotalSize)
{
    qm::TMemoryStream input(lzhtest::WordText(500, 2));
    input.Seek(200);
    lzh.InputStream = &input;
    lzh.Compress();
    const Bytes header(output.Bytes().begin(), output.Bytes().begin() + 8);
    EXPECT_EQ(header, (Bytes{'!', 'H', 'Z', 'L', 0xF4, 0x01, 0, 0}));
    EXPECT_EQ(lzh.UncompressedSize(), 500);
}

TEST_F(LzhDStreams, HookRunsAfterTheHeaderAndEveryBlock)
{
    qm::TMemoryStream input(lzhtest::RandomBytes(100000, 3));
    lzh.InputStream = &input;
    std::vector<std::int64_t> seen; // output size and input position at each call
    lzh.OnProcessMessages = [&] { seen.push_back(output.Size() * 1000000 + input.Position()); };
    lzh.Compress();
    auto at = [&](std::int64_t outSize, std::int64_t inPos) {
        return std::find(seen.begin(), seen.end(), outSize * 1000000 + inPos) != seen.end();
    };
    EXPECT_TRUE(at(4, 0));
    EXPECT_TRUE(at(8, 0));
    EXPECT_TRUE(at(8, 32768));          // first input block
    EXPECT_TRUE(at(8 + 32768, 65536));  // first output block, once the second input block is in
    EXPECT_TRUE(at(output.Size(), 100000)); // final flush
}

TEST_F(LzhDStreams, FailuresReachTheCallerWithStreamTexts)
{
    TBrokenInput input(lzhtest::FromString("!HZ"));
    lzh.InputStream = &input;
    EXPECT_EQ(ExpectFailure(false), "Error reading from input stream !");

    input.FailReads = true;
    EXPECT_EQ(ExpectFailure(true), "Error reading from input stream ! (LZH)");

    TBrokenInput overshoot(Bytes{'!', 'H', 'Z', 'L', 2, 0, 0, 0, 0xf6, 0xc6, 0x00, 0x00});
    lzh.InputStream = &overshoot;
    output.Clear();
    EXPECT_EQ(ExpectFailure(false), SizeMismatch);
    EXPECT_EQ(output.Size(), 0); // "aaaa" under a header of 2: nothing past the header's size

    qm::TMemoryStream packed(qm::LzhCompressBytes(lzhtest::WordText(40000, 3)));
    lzh.InputStream = &packed;
    lzh.OutputLimit = 39999; // the caller's limit: refused before anything is written
    EXPECT_EQ(ExpectFailure(false), "Lzrw1 (LZH decompression) : the file states 40000 bytes, more than the 39999 expected !");
    EXPECT_EQ(output.Size(), 0);

    TBrokenInput huge(lzhtest::FromString("x"));
    huge.ClaimedSize = 3LL << 30;
    lzh.InputStream = &huge;
    EXPECT_EQ(ExpectFailure(true), "Input stream too large for LZH (2 GB at most) !");
    huge.ClaimedSize = -2; // a size the stream cannot tell (-1 stands for the real one)
    EXPECT_EQ(ExpectFailure(true), "Error reading from input stream ! (LZH)");
}

TEST_F(LzhDStreams, ShortWritesReachTheCaller)
{
    qm::TMemoryStream input(lzhtest::RandomBytes(40000, 9));
    lzh.InputStream = &input;
    output.FailAt = 1; // the signature
    EXPECT_EQ(ExpectFailure(true), "Error writing to output stream !");

    qm::TMemoryStream packed(qm::LzhCompressBytes(lzhtest::RandomBytes(40000, 9)));
    lzh.InputStream = &packed;
    output.Writes.clear();
    output.FailAt = 2; // the final block
    EXPECT_EQ(ExpectFailure(false), "Error writing to output stream !");
}

TEST_F(LzhDStreams, SizeBeyondTheStreamReachesTheCaller)
{
    const Bytes packed = qm::LzhCompressBytes(lzhtest::WordText(3000, 5));
    for (const std::uint32_t size : {0x7FFFFFFFU, 3001U}) {
        qm::TMemoryStream input(WithStoredSize(packed, size));
        lzh.InputStream = &input;
        output.Clear();
        EXPECT_EQ(ExpectFailure(false), qm::lzh::TruncatedStreamText) << size;
        EXPECT_EQ(output.Size(), 0) << size; // less than a block decoded, none written
    }
}

TEST_F(LzhDStreams, MissingStreamsAreReported)
{
    lzh.InputStream = nullptr;
    EXPECT_EQ(ExpectFailure(false), "Error:input");
    qm::TMemoryStream input;
    lzh.InputStream = &input;
    lzh.OutputStream = nullptr;
    EXPECT_EQ(ExpectFailure(true), "Error:output");
}

} // namespace
