// Exact bits of the coded stream. The short vectors were worked out by hand
// from the starting tree (leaf n's parent is n / 2 + 314, the bit of a node
// is its lowest bit); they and the digests agree with lzh_model.py, a
// separate literal model of the format.
#include "TestData.h"

#include "lzh/PositionCode.h"
#include "lzh/lzh.h"

#include <gtest/gtest.h>

namespace {

using lzhtest::Bytes;
using lzhtest::Decode;
using lzhtest::Encode;
using lzhtest::FromString;
using lzhtest::Hex;

struct Vector {
    const char* input;
    const char* coded;
};

// Empty input still codes one literal: the space the window starts with.
// "a" is that literal's sibling path 111101101; "aaaa" is 'a', then a
// 3-byte match at distance 1 (symbol 256, path 10001100, position 000 000000).
const Vector KnownAnswers[] = {
    {"", "d600"},
    {"a", "f680"},
    {"aaaa", "f6c60000"},
    {"abcdabcd", "f6fbbdff08d018"},
    {"abcabcabcabc", "f6fbbdf24020"},
};

TEST(CodecVectors, EncoderProducesTheKnownBits)
{
    for (const Vector& v : KnownAnswers)
        EXPECT_EQ(Hex(Encode(FromString(v.input))), v.coded) << '"' << v.input << '"';
}

TEST(CodecVectors, DecoderRestoresTheKnownBits)
{
    for (const Vector& v : KnownAnswers) {
        const std::string hex = v.coded;
        Bytes coded;
        for (std::size_t i = 0; i < hex.size(); i += 2)
            coded.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        const std::string input = v.input;
        EXPECT_EQ(Decode(coded, static_cast<std::int32_t>(input.size())), FromString(input)) << '"' << input << '"';
    }
}

// The window starts as spaces, so leading spaces are a match at once.
TEST(CodecVectors, LeadingSpacesAreCodedAsMatches)
{
    Bytes in(100, ' ');
    in.push_back('x');
    EXPECT_EQ(Hex(Encode(in)), "c51dd8800100");
}

// Only the window before the start position holds spaces; the rest starts
// as zeros. A first match (symbol 256, path 10001100) at position 4091
// (code 11111111, then 111011) copies from positions 4040..4042, not yet
// written; the same match at position 2 copies the spaces at 4033..4035.
TEST(CodecVectors, WindowPastTheStartPositionStartsAsZeros)
{
    EXPECT_EQ(Decode({0x8c, 0xff, 0xec}, 3), (Bytes{0, 0, 0}));
    // Position 2: 10001100, code 000, then 000010.
    EXPECT_EQ(Decode({0x8c, 0x01, 0x00}, 3), lzhtest::FromString("   "));
}

TEST(CodecVectors, PositionCodeIsTheFixedTable)
{
    const auto& t = qm::lzh::PositionCode;
    std::vector<unsigned> expected = {0x00, 0x20, 0x30, 0x40};
    for (unsigned v = 0x50; v <= 0x88; v += 8)
        expected.push_back(v);
    for (unsigned v = 0x90; v <= 0xBC; v += 4)
        expected.push_back(v);
    for (unsigned v = 0xC0; v <= 0xEE; v += 2)
        expected.push_back(v);
    for (unsigned v = 0xF0; v <= 0xFF; ++v)
        expected.push_back(v);
    ASSERT_EQ(expected.size(), 64U);
    for (unsigned u = 0; u < 64; ++u) {
        EXPECT_EQ(t.Pattern[u], expected[u]) << u;
        // Every byte that begins with u's code decodes to u with its length.
        const unsigned span = 1U << (8 - t.Length[u]);
        for (unsigned v = expected[u]; v < expected[u] + span; ++v) {
            EXPECT_EQ(t.DecodeU[v], u);
            EXPECT_EQ(t.DecodeLength[v], t.Length[u]);
        }
    }
    EXPECT_EQ(t.Length[0], 3);
    EXPECT_EQ(t.Length[3], 4);
    EXPECT_EQ(t.Length[11], 5);
    EXPECT_EQ(t.Length[23], 6);
    EXPECT_EQ(t.Length[47], 7);
    EXPECT_EQ(t.Length[63], 8);
}

// Far beyond the hand-worked cases: the whole output of two longer inputs,
// one of which goes through a rebuild of the symbol tree.
TEST(CodecVectors, LongOutputsMatchTheirDigests)
{
    const Bytes rebuilt = Encode(lzhtest::RebuildInput());
    EXPECT_EQ(rebuilt.size(), 48144U);
    EXPECT_EQ(lzhtest::Fnv1a64(rebuilt), 0xf1729bad729dd3d0ULL);
    EXPECT_TRUE(Decode(rebuilt, 48000) == lzhtest::RebuildInput());

    const Bytes text = Encode(lzhtest::TextInput());
    EXPECT_EQ(text.size(), 20473U);
    EXPECT_EQ(lzhtest::Fnv1a64(text), 0xd16030d607d13405ULL);
}

} // namespace

namespace {

// An input and the size and digest of its coded form, taken from the encoder
// before it was changed for speed.
struct PinnedOutput {
    const char* name;
    Bytes input;
    std::size_t codedSize;
    std::uint64_t digest;
};

// The input may end on any step of the encoder's window: alone, in the
// middle of two steps taken together, or on a step taken ahead for the next
// token. Every prefix of four inputs up to 400 bytes, coded one after the
// other, gives the bytes pinned before the steps were paired.
TEST(CodecVectors, EveryShortInputEndsWithThePinnedBytes)
{
    const PinnedOutput cases[] = {
        {"text", lzhtest::WordText(400, 3), 43206, 0x0ed159310d7f33beULL},
        {"random", lzhtest::RandomBytes(400, 4), 84059, 0xe8cdbe6446603f71ULL},
        {"runs", lzhtest::Runs(400, 5), 4236, 0xb5c9414ebe4d0629ULL},
        {"spaces", lzhtest::LeadingSpaces(400, 6), 16661, 0xf9d90e338f1203d7ULL},
    };
    for (const auto& c : cases) {
        Bytes all;
        for (auto end = c.input.begin(); ; ++end) {
            const Bytes coded = Encode(Bytes(c.input.begin(), end));
            all.insert(all.end(), coded.begin(), coded.end());
            if (end == c.input.end())
                break;
        }
        EXPECT_EQ(all.size(), c.codedSize) << c.name;
        EXPECT_EQ(lzhtest::Fnv1a64(all), c.digest) << c.name;
    }
}

// A few megabytes in 64 KiB pieces taken in turn from each kind of input,
// so that the window, the tree rebuild and the long matches all turn over
// many times within one stream.
Bytes Mixed(std::size_t size)
{
    constexpr std::size_t Piece = 64U << 10;
    Bytes out;
    for (std::uint32_t k = 0; out.size() < size; ++k) {
        const Bytes part = k % 4 == 0   ? lzhtest::WordText(Piece, k)
                           : k % 4 == 1 ? lzhtest::RandomBytes(Piece, k)
                           : k % 4 == 2 ? lzhtest::Runs(Piece, k)
                                        : lzhtest::LeadingSpaces(Piece, k);
        out.insert(out.end(), part.begin(), part.end());
    }
    out.resize(size);
    return out;
}

// The encoder's exact output over several megabytes, pinned before any
// change for speed: a faster encoder must produce these very bytes.
TEST(CodecVectors, MegabytesOfOutputMatchTheirDigests)
{
    const PinnedOutput cases[] = {
        {"text", lzhtest::WordText(1U << 20, 21), 211270, 0x7485909668d6656aULL},
        {"random", lzhtest::RandomBytes(1U << 19, 22), 524729, 0x254d0a1bf74674aaULL},
        {"runs", lzhtest::Runs(1U << 20, 23), 40136, 0x4eba9b552845fcdbULL},
        {"mixed", Mixed(3U << 20), 1138226, 0x42504c4ca2c770e2ULL},
    };
    for (const auto& c : cases) {
        const Bytes coded = Encode(c.input);
        EXPECT_EQ(coded.size(), c.codedSize) << c.name;
        EXPECT_EQ(lzhtest::Fnv1a64(coded), c.digest) << c.name;
        EXPECT_TRUE(Decode(coded, static_cast<std::int32_t>(c.input.size())) == c.input) << c.name;
    }
}

} // namespace
