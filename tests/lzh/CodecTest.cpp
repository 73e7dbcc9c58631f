// The codec's behaviour over whole streams: round trips at the sizes where
// the window, the look-ahead and the component's blocks turn over, and what
// the decoder does with short, corrupt or overshooting input.
#include "TestData.h"

#include "lzh/lzh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

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

std::string TruncationText(const Bytes& coded, std::int32_t size, std::size_t* asked = nullptr,
                           Bytes* out = nullptr)
{
    try {
        const Bytes got = Decode(coded, size, asked);
        if (out)
            *out = got;
    } catch (const qm::ElzhException& e) {
        return e.Message;
    }
    return "no error";
}

// A valid stream never needs a bit past its last byte; the reader looks one
// byte further. A cut stream, or a size larger than the stream holds, stops
// at the second byte the input cannot deliver, however large the size.
TEST(Codec, StreamCutShortStopsAtTheSecondMissingByte)
{
    const Bytes in = lzhtest::WordText(20000, 3);
    const Bytes coded = Encode(in);
    const Bytes cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(coded.size() / 2));
    const struct {
        const Bytes* stream;
        std::int32_t size;
    } cases[] = {{&cut, 20000}, {&coded, 0x7FFFFFFF}, {&coded, 20001}, {&cut, 0x7FFFFFFF}};
    for (const auto& c : cases) {
        std::size_t asked = 0;
        EXPECT_EQ(TruncationText(*c.stream, c.size, &asked), qm::lzh::TruncatedStreamText) << c.size;
        EXPECT_EQ(asked, c.stream->size() + 2) << c.size;
    }
    std::size_t asked = 0;
    EXPECT_EQ(TruncationText({}, 500, &asked), qm::lzh::TruncatedStreamText);
    EXPECT_EQ(asked, 2U);
}

// "aaaa" is 26 bits in 4 bytes: a literal (9), a match symbol (8) and its
// position, taken as 8 bits and then 1. Without the last byte the 8-bit take
// still begins inside the input and reads zeros behind it; the last single
// bit starts past the end.
TEST(Codec, TruncationBoundaryIsTheFirstTakeStartingPastTheEnd)
{
    Bytes out;
    std::size_t asked = 0;
    EXPECT_EQ(TruncationText({0xf6, 0xc6, 0x00, 0x00}, 4, &asked, &out), "no error");
    EXPECT_EQ(out, lzhtest::FromString("aaaa"));
    EXPECT_EQ(asked, 5U); // the one byte of read-ahead
    EXPECT_EQ(TruncationText({0xf6, 0xc6, 0x00}, 4, &asked), qm::lzh::TruncatedStreamText);
    EXPECT_EQ(asked, 5U);
    // Without its last two bytes the position's 8-bit take begins at bit 17
    // of 16: past the end.
    EXPECT_EQ(TruncationText({0xf6, 0xc6}, 4, &asked), qm::lzh::TruncatedStreamText);
    // One literal: its 9 bits need the second byte, not a third.
    EXPECT_EQ(TruncationText({0xf6, 0x80}, 1, &asked, &out), "no error");
    EXPECT_EQ(out, lzhtest::FromString("a"));
}

TEST(Codec, GarbageDecodesToTheRequestedSizeOrStopsAtItsEnd)
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes junk = lzhtest::RandomBytes(200 + seed * 37, seed);
        for (const std::int32_t size : {300, 0x7FFFFFFF}) {
            Bytes out;
            std::size_t asked = 0;
            const std::string result = TruncationText(junk, size, &asked, &out);
            if (result == "no error") {
                EXPECT_GE(out.size(), static_cast<std::size_t>(size));
                EXPECT_LE(out.size(), static_cast<std::size_t>(size) + 59U);
            } else {
                EXPECT_EQ(result, qm::lzh::TruncatedStreamText);
            }
            EXPECT_LE(asked, junk.size() + 2);
        }
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
