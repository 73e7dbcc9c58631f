// The bit reader's two ways of taking bits must ask the input for the same
// bytes: one bit at a time, and several bits seen at once and then skipped.
#include "lzh/BitIO.h"
#include "lzh/LzhError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TRun {
    std::vector<unsigned> Bits;
    std::size_t Asked = 0;
    std::string Error;
};

// Takes `groups` of n bits from `input`, either bit by bit or by peek and
// skip, until the reader raises or `groups` are taken.
TRun Take(const std::vector<std::uint8_t>& input, unsigned n, int groups, bool peek)
{
    TRun run;
    auto reader = [&](std::uint8_t* b, std::uint16_t) -> std::uint16_t {
        const std::size_t at = run.Asked++;
        if (at >= input.size())
            return 0;
        *b = input[at];
        return 1;
    };
    qm::lzh::TBitReader<decltype(reader)> in(reader);
    try {
        for (int g = 0; g < groups; ++g) {
            if (peek) {
                const unsigned v = in.PeekBits(n);
                in.SkipBits(n); // raises where a GetBit of these bits would
                run.Bits.push_back(v);
            } else {
                unsigned v = 0;
                for (unsigned k = 0; k < n; ++k)
                    v = (v << 1) | in.GetBit();
                run.Bits.push_back(v);
            }
        }
    } catch (const qm::ElzhException& e) {
        run.Error = e.Message;
    }
    return run;
}

// Every group size, up to and past the end of three bytes: the same bits
// (zeros past the end), the same bytes asked for, and the truncation raised
// by the same group.
TEST(BitReader, PeekAndSkipAskForTheSameBytesAsSingleBits)
{
    const std::vector<std::uint8_t> input = {0xA5, 0x3C, 0xF0};
    for (unsigned n = 1; n <= 6; ++n) {
        for (int groups = 1; groups <= 48 / static_cast<int>(n) + 1; ++groups) {
            const TRun single = Take(input, n, groups, false);
            const TRun peeked = Take(input, n, groups, true);
            EXPECT_EQ(peeked.Bits, single.Bits) << n << " bits, " << groups << " groups";
            EXPECT_EQ(peeked.Asked, single.Asked) << n << " bits, " << groups << " groups";
            EXPECT_EQ(peeked.Error, single.Error) << n << " bits, " << groups << " groups";
        }
    }
    // 24 bits plus one byte of read-ahead are fine; a bit past that is not.
    EXPECT_EQ(Take(input, 1, 24, true).Error, "");
    EXPECT_EQ(Take(input, 1, 25, true).Error, qm::lzh::TruncatedStreamText);
}

} // namespace
