// The codec's behaviour over whole streams: round trips at the sizes where
// the window, the look-ahead and the component's blocks turn over, and what
// the decoder does with short, corrupt or overshooting input.
#include "TestData.h"

#include "lzh/lzh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace {

using lzhtest::Bytes;
using lzhtest::Decode;
using lzhtest::Encode;

void ExpectRoundTrip(const Bytes& in, const char* kind)
{
    std::int64_t read = -1;
    const Bytes coded = Encode(in, &read);
    EXPECT_EQ(read, static_cast<std::int64_t>(in.size())) << kind;
    std::size_t asked = 0;
    const Bytes out = Decode(coded, static_cast<std::int32_t>(in.size()), &asked);
    EXPECT_TRUE(out == in) << kind << " of " << in.size() << " bytes";
    // Every coded byte is needed, and the bit reader looks at most two ahead.
    if (!in.empty()) {
        EXPECT_GE(asked, coded.size()) << kind << " of " << in.size();
        EXPECT_LE(asked, coded.size() + 2) << kind << " of " << in.size();
    }
}

TEST(Codec, RoundTripsAtEveryBoundarySize)
{
    const std::size_t sizes[] = {0, 1, 2, 59, 60, 61, 4095, 4096, 4097, 32767, 32768, 32769};
    for (const std::size_t n : sizes) {
        const auto seed = static_cast<std::uint32_t>(n + 1);
        ExpectRoundTrip(lzhtest::WordText(n, seed), "text");
        ExpectRoundTrip(lzhtest::RandomBytes(n, seed), "random");
        ExpectRoundTrip(lzhtest::Runs(n, seed), "runs");
        ExpectRoundTrip(lzhtest::LeadingSpaces(n, seed), "leading spaces");
    }
}

TEST(Codec, RoundTripsSeveralMegabytes)
{
    Bytes in = lzhtest::WordText(1 << 20, 11);
    for (const Bytes& part : {lzhtest::RandomBytes(1 << 19, 12), lzhtest::Runs(1 << 20, 13),
                              lzhtest::WordText(1 << 19, 14)})
        in.insert(in.end(), part.begin(), part.end());
    ExpectRoundTrip(in, "mixed");
}

TEST(Codec, OneByteRunsAreMatchesOverlappingThemselves)
{
    const Bytes in(10000, 'z');
    const Bytes coded = Encode(in);
    EXPECT_LT(coded.size(), 300U); // 166 matches of 60 at distance 1
    EXPECT_EQ(Decode(coded, 10000), in);
}

TEST(Codec, DecoderGivenNoSizeReadsNothing)
{
    const Bytes coded = Encode(lzhtest::FromString("hello"));
    for (const std::int32_t size : {0, -1, -2147483647 - 1}) {
        std::size_t asked = 99;
        EXPECT_TRUE(Decode(coded, size, &asked).empty());
        EXPECT_EQ(asked, 0U);
    }
}

// "aaaa" ends with a 3-byte match; asked for 2 bytes the decoder still
// writes that match whole.
TEST(Codec, LastMatchIsWrittenWholePastTheRequestedSize)
{
    const Bytes coded = {0xf6, 0xc6, 0x00, 0x00};
    EXPECT_EQ(Decode(coded, 2), lzhtest::FromString("aaaa"));
}

// Missing input reads as zero bits: the decoder goes on to the size asked.
TEST(Codec, TruncatedStreamStillYieldsTheRequestedSize)
{
    const Bytes in = lzhtest::WordText(20000, 3);
    const Bytes coded = Encode(in);
    const Bytes cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(coded.size() / 2));
    const Bytes out = Decode(cut, 20000);
    ASSERT_GE(out.size(), 20000U);
    EXPECT_LE(out.size(), 20000U + 59U);
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 1000, out.begin())); // well before the cut
    EXPECT_GE(Decode({}, 500).size(), 500U);
}

TEST(Codec, GarbageDecodesToAtLeastTheRequestedSize)
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes junk = lzhtest::RandomBytes(200 + seed * 37, seed);
        const Bytes out = Decode(junk, 3000);
        EXPECT_GE(out.size(), 3000U);
        EXPECT_LE(out.size(), 3000U + 59U);
    }
}

struct WriterFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(Codec, CallbackExceptionsPassThroughUnchanged)
{
    const Bytes in = lzhtest::WordText(5000, 5);
    const Bytes coded = Encode(in);
    int writes = 0;
    auto failingWriter = [&](const std::uint8_t*, std::uint16_t) {
        if (++writes == 100)
            throw WriterFailed("disk full");
    };
    std::size_t pos = 0;
    auto reader = [&](std::uint8_t* b, std::uint16_t) -> std::uint16_t {
        if (pos >= in.size())
            return 0;
        *b = in[pos++];
        return 1;
    };
    EXPECT_THROW(qm::EncodeStream(reader, failingWriter), WriterFailed);
    writes = 0;
    pos = 0;
    auto codedReader = [&](std::uint8_t* b, std::uint16_t) -> std::uint16_t {
        if (pos >= coded.size())
            return 0;
        *b = coded[pos++];
        return 1;
    };
    EXPECT_THROW(qm::DecodeStream(5000, codedReader, failingWriter), WriterFailed);
    auto failingReader = [](std::uint8_t*, std::uint16_t) -> std::uint16_t { throw WriterFailed("gone"); };
    EXPECT_THROW(qm::DecodeStream(5, failingReader, [](const std::uint8_t*, std::uint16_t) {}), WriterFailed);
}

// After the end of input the encoder may ask again; it must stop at the first
// empty answer of each request and count only the bytes it got.
TEST(Codec, EncoderStopsAtTheFirstEmptyRead)
{
    const Bytes in = lzhtest::WordText(3000, 9);
    std::size_t pos = 0;
    int emptyAnswers = 0;
    Bytes coded;
    const std::int64_t read = qm::EncodeStream(
        [&](std::uint8_t* b, std::uint16_t) -> std::uint16_t {
            if (pos >= in.size()) {
                ++emptyAnswers;
                return 0;
            }
            *b = in[pos++];
            return 1;
        },
        [&](const std::uint8_t* b, std::uint16_t n) { coded.insert(coded.end(), b, b + n); });
    EXPECT_EQ(read, 3000);
    EXPECT_GE(emptyAnswers, 1);
    EXPECT_EQ(coded, Encode(in));
}

} // namespace
