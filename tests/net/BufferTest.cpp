#include "net/ReadAhead.h"
#include "net/WSockQueue.h"
#include "net/WSockbuf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <tuple>
#include <random>
#include <vector>

using qm::TBuffer;
using qm::TSendQueue;

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>((i * 131 + seed * 7) % 251);
    return v;
}

} // namespace

TEST(Buffer, FullChunkTakesNothingMore)
{
    TBuffer b(1514);
    const auto data = Pattern(2000);
    EXPECT_EQ(b.Write(data.data(), 2000), 1514);
    EXPECT_EQ(b.Write(data.data(), 2000), 0);
    const auto bytes = b.Peek();
    ASSERT_EQ(bytes.size(), 1514u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data.begin()));
}

TEST(Buffer, DrainedFrontIsNotReusedUntilEmpty)
{
    TBuffer b(1514);
    const auto data = Pattern(2000);
    ASSERT_EQ(b.Write(data.data(), 100), 100);
    ASSERT_EQ(b.Remove(40), 40);
    const auto bytes = b.Peek();
    ASSERT_EQ(bytes.size(), 60u);
    EXPECT_EQ(bytes.data()[0], data[40]);
    EXPECT_EQ(b.Write(data.data(), 2000), 1414);
    EXPECT_EQ(b.Peek().size(), 1474u);
}

TEST(Buffer, OverlongRemoveTakesOnlyUnreadAndResetsCounts)
{
    TBuffer b(16);
    const auto data = Pattern(32);
    b.Write(data.data(), 10);
    b.Remove(3);
    EXPECT_EQ(b.Remove(100), 7);
    EXPECT_EQ(b.RdCount(), 0);
    EXPECT_EQ(b.WrCount(), 0);
    EXPECT_TRUE(b.Peek().empty());
    EXPECT_EQ(b.Peek().data(), nullptr);
    EXPECT_EQ(b.Remove(1), 0);
    // The next write starts at the beginning of the area again.
    EXPECT_EQ(b.Write(data.data() + 5, 16), 16);
    EXPECT_EQ(b.Peek().data()[0], data[5]);
}

TEST(Buffer, NonPositiveSizeGivesDefaultChunk)
{
    EXPECT_EQ(TBuffer(0).Size(), 1514);
    EXPECT_EQ(TBuffer(-5).Size(), 1514);
    TBuffer b(10);
    b.SetSize(0);
    EXPECT_EQ(b.Size(), 1514);
}

TEST(Buffer, NegativeLengthsAreIgnored)
{
    TBuffer b(8);
    const auto data = Pattern(8);
    EXPECT_EQ(b.Write(data.data(), -1), 0);
    b.Write(data.data(), 4);
    EXPECT_EQ(b.Remove(-3), 0);
    EXPECT_EQ(b.Peek().size(), 4u);
}

TEST(Buffer, ResizeKeepsStoredBytesAndPositions)
{
    TBuffer b(8);
    const auto data = Pattern(100);
    b.Write(data.data(), 8);
    b.Remove(2);
    b.SetSize(20);
    EXPECT_EQ(b.Size(), 20);
    EXPECT_EQ(b.RdCount(), 2);
    EXPECT_EQ(b.WrCount(), 8);
    EXPECT_EQ(b.Peek().data()[0], data[2]);
    EXPECT_EQ(b.Write(data.data(), 100), 12);
}

TEST(Buffer, ShrinkingBelowTheWriteCountCutsTheCounts)
{
    TBuffer b(10);
    const auto data = Pattern(10);
    b.Write(data.data(), 10);
    b.Remove(2);
    b.SetSize(5);
    EXPECT_EQ(b.WrCount(), 5);
    EXPECT_EQ(b.RdCount(), 2);
    ASSERT_EQ(b.Peek().size(), 3u);
    EXPECT_EQ(b.Peek().data()[2], data[4]);
    b.SetSize(1); // below the read position: everything unread falls away
    EXPECT_EQ(b.WrCount(), 0);
    EXPECT_EQ(b.RdCount(), 0);
}

// Whatever the chunk size, the write pattern and the drain pattern, the bytes
// come out in order, every chunk keeps 0 <= rd <= wr <= size, a chunk offers
// at most its own size, and a drained queue keeps exactly one chunk.
TEST(SendQueue, InvariantsHoldAcrossSizes)
{
    for (const std::int32_t chunk : {1, 2, 7, 64, 1514, 4096}) {
        for (unsigned seed = 1; seed <= 8; ++seed) {
            std::mt19937 rng(seed * 1000u + static_cast<unsigned>(chunk));
            SCOPED_TRACE("chunk " + std::to_string(chunk) + " seed " + std::to_string(seed));
            TSendQueue q(chunk);
            const auto data = Pattern(20000, seed);
            std::vector<std::uint8_t> out;
            std::size_t in = 0;
            while (out.size() < data.size()) {
                const auto w = std::min<std::size_t>(rng() % 3000, data.size() - in);
                q.Append(data.data() + in, static_cast<std::int32_t>(w));
                in += w;
                ASSERT_EQ(q.Pending(), static_cast<std::int64_t>(in - out.size()));
                auto drain = static_cast<std::int32_t>(rng() % 4000);
                while (drain > 0) {
                    const auto bytes = q.Front();
                    if (bytes.empty())
                        break;
                    ASSERT_LE(bytes.size(), static_cast<std::size_t>(chunk));
                    const auto n = std::min<std::int32_t>(drain, static_cast<std::int32_t>(bytes.size()));
                    out.insert(out.end(), bytes.begin(), bytes.begin() + n);
                    q.Remove(n);
                    drain -= n;
                }
            }
            ASSERT_EQ(out, data);
            EXPECT_TRUE(q.Front().empty());
            EXPECT_EQ(q.ChunkCount(), 1u);
        }
    }
}

TEST(SendQueue, LargeAppendSplitsIntoFullChunks)
{
    TSendQueue q;
    const auto data = Pattern(4000);
    q.Append(data.data(), 4000);
    ASSERT_EQ(q.ChunkCount(), 3u);
    std::vector<std::size_t> sizes;
    for (auto bytes = q.Front(); !bytes.empty(); bytes = q.Front()) {
        sizes.push_back(bytes.size());
        q.Remove(static_cast<std::int32_t>(bytes.size()));
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1514, 1514, 972}));
}

TEST(SendQueue, AppendsBehindAPartlyDrainedChunk)
{
    TSendQueue q(10);
    const auto data = Pattern(20);
    q.Append(data.data(), 8);
    q.Remove(5);
    q.Append(data.data() + 8, 6); // 2 fit behind, 4 open a new chunk
    EXPECT_EQ(q.ChunkCount(), 2u);
    EXPECT_EQ(q.Front().size(), 5u);
    EXPECT_EQ(q.Pending(), 9);
    q.Clear();
    EXPECT_TRUE(q.Empty());
    EXPECT_TRUE(q.Front().empty());
    q.Append(data.data(), 0); // nothing to queue: no chunk either
    EXPECT_TRUE(q.Empty());
}

// TReadAhead: 100 bytes appended, Taken read, room for Room more filled: every byte comes out once and in order; the
// held ones move to the front only for room, and the buffer grows only when that leaves too little (At: where they
// begin then, -1 in a new buffer).
TEST(ReadAhead, HandsOutEveryByteOnceAndGrowsOnlyWhenMovingLeavesTooLittleRoom)
{
    std::string bytes(300, '\0'), out(400, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    for (const auto& [taken, room, at] : {std::tuple<std::size_t, std::size_t, int>{60, 50, 0}, {60, 60, 0}, {60, 61, -1}, {100, 100, 0}, {0, 1, -1}, {1, 0, 1}, {99, 0, 99}, {100, 0, 0}}) {
        qm::TReadAhead ahead;
        ahead.Append(bytes.data(), 100);
        const auto base = reinterpret_cast<std::uintptr_t>(ahead.Data());
        EXPECT_EQ(ahead.Read(out.data(), taken), taken);
        std::copy_n(bytes.begin() + 100, room, ahead.Space(room).begin());
        ahead.Received(room);
        const auto data = reinterpret_cast<std::uintptr_t>(ahead.Data());
        EXPECT_EQ(data >= base && data < base + 100 ? static_cast<int>(data - base) : -1, at) << taken << " " << room;
        EXPECT_EQ(ahead.Read(out.data(), out.size()), 100 - taken + room);
        EXPECT_TRUE(ahead.Empty() && out.compare(0, 100 - taken + room, bytes, taken, 100 - taken + room) == 0) << taken << " " << room;
    }
}
