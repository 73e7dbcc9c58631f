// The adaptive tree on its own: its shape after updates and after the
// rebuild, and codes deeper than 16 levels.
#include "TestData.h"

#include "lzh/BitIO.h"
#include "lzh/SymbolTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using qm::lzh::NodeCount;
using qm::lzh::RootNode;
using qm::lzh::SymbolCount;
using qm::lzh::TSymbolTree;

// The shape every update must keep: frequencies sorted, sibling pairs with
// their parent's frequency as their sum, a leaf table that points back, and
// grandparent entries that agree with the parents.
::testing::AssertionResult WellFormed(const TSymbolTree& t)
{
    for (int n = 0; n + 1 < NodeCount; ++n)
        if (t.Freq(n) > t.Freq(n + 1))
            return ::testing::AssertionFailure() << "frequency order broken at node " << n;
    int leaves = 0;
    for (int n = 0; n < NodeCount; ++n) {
        const int c = t.Child(n);
        if (c >= NodeCount) {
            ++leaves;
            if (t.Leaf(c - NodeCount) != n)
                return ::testing::AssertionFailure() << "leaf table wrong for node " << n;
            continue;
        }
        if (c % 2 != 0 || t.Parent(c) != n || t.Parent(c + 1) != n)
            return ::testing::AssertionFailure() << "children of " << n << " not linked";
        if (t.Freq(n) != t.Freq(c) + t.Freq(c + 1))
            return ::testing::AssertionFailure() << "node " << n << " is not the sum of its children";
    }
    // The grandparent entries the walks take two levels at a time with.
    for (int n = 0; n < RootNode; ++n)
        if (t.Grand(n) != t.Parent(t.Parent(n)))
            return ::testing::AssertionFailure() << "grandparent of " << n << " is stale";
    if (leaves != SymbolCount)
        return ::testing::AssertionFailure() << leaves << " leaves";
    return ::testing::AssertionSuccess();
}

int Depth(const TSymbolTree& t, int symbol)
{
    int d = 0;
    for (int n = t.Leaf(symbol); n != RootNode; n = t.Parent(n))
        ++d;
    return d;
}

TEST(SymbolTree, StartsBalancedAndStaysWellFormed)
{
    TSymbolTree t;
    EXPECT_TRUE(WellFormed(t));
    EXPECT_EQ(t.Freq(RootNode), 314U);
    EXPECT_EQ(Depth(t, 'a'), 9);
    const auto text = lzhtest::WordText(5000, 2);
    for (const std::uint8_t b : text)
        t.Update(b);
    EXPECT_TRUE(WellFormed(t));
    EXPECT_EQ(t.Freq(RootNode), 5314U);
}

// The root reaches 0x8000 after 32454 updates; the next update halves every
// leaf (rounding up) and rebuilds before counting its own symbol.
TEST(SymbolTree, RebuildsWhenTheRootReachesTheLimit)
{
    TSymbolTree t;
    const auto bytes = lzhtest::RandomBytes(32768 - 314, 77);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        t.Update(i % 3 == 0 ? 256 + bytes[i] % 58 : bytes[i] % 40);
    ASSERT_EQ(t.Freq(RootNode), 0x8000U);
    std::vector<unsigned> before(SymbolCount);
    for (int s = 0; s < SymbolCount; ++s)
        before[static_cast<std::size_t>(s)] = t.Freq(t.Leaf(s));

    t.Update(300);
    EXPECT_TRUE(WellFormed(t));
    unsigned total = 0;
    for (int s = 0; s < SymbolCount; ++s) {
        const unsigned expected = (before[static_cast<std::size_t>(s)] + 1) / 2 + (s == 300 ? 1 : 0);
        EXPECT_EQ(t.Freq(t.Leaf(s)), expected) << "symbol " << s;
        total += expected;
    }
    EXPECT_EQ(t.Freq(RootNode), total);
    EXPECT_LT(total, 0x8000U / 2 + SymbolCount);
}

// Codes seq with enc (calling each(s) before each symbol), flushed.
template <class Each>
lzhtest::Bytes EncodeSymbols(TSymbolTree& enc, const std::vector<int>& seq, Each each)
{
    lzhtest::Bytes coded;
    auto sink = [&coded](const std::uint8_t* p, std::uint16_t n) { coded.insert(coded.end(), p, p + n); };
    qm::lzh::TBitWriter<decltype(sink)> out(sink);
    for (const int s : seq) {
        each(s);
        enc.Encode(s, out);
    }
    out.Flush();
    return coded;
}

// Decodes coded with a fresh tree and demands seq back, symbol by symbol.
void ExpectDecodes(const lzhtest::Bytes& coded, const std::vector<int>& seq, const char* what)
{
    std::size_t pos = 0;
    auto source = [&](std::uint8_t* p, std::uint16_t) -> std::uint16_t {
        if (pos >= coded.size())
            return 0;
        *p = coded[pos++];
        return 1;
    };
    qm::lzh::TBitReader<decltype(source)> in(source);
    TSymbolTree dec;
    for (std::size_t i = 0; i < seq.size(); ++i)
        ASSERT_EQ(dec.Decode(in), seq[i]) << what << ", symbol " << i;
    EXPECT_TRUE(WellFormed(dec)) << what;
}

// Fibonacci counts push the rarely seen symbols 18 levels down. The whole
// sequence must code and decode, with the bits lzh_model.py gives.
TEST(SymbolTree, CodesPathsLongerThanSixteenBits)
{
    std::vector<int> seq;
    unsigned a = 233;
    unsigned b = 377;
    for (int s = 302; s <= 310; ++s) {
        seq.insert(seq.end(), a, s);
        const unsigned next = a + b;
        a = b;
        b = next;
    }
    for (int s = 0; s < SymbolCount; ++s)
        seq.push_back(s);

    TSymbolTree enc;
    int deepest = 0;
    const lzhtest::Bytes coded =
        EncodeSymbols(enc, seq, [&](int s) { deepest = std::max(deepest, Depth(enc, s)); });
    EXPECT_EQ(deepest, 18);
    EXPECT_TRUE(WellFormed(enc));
    EXPECT_EQ(coded.size(), 9719U);
    EXPECT_EQ(lzhtest::Fnv1a64(coded), 0xda6e92402676c96bULL);
    ExpectDecodes(coded, seq, "fibonacci");
}

// Codes seq with one tree and decodes it with another.
void ExpectDecodedBack(const std::vector<int>& seq, const char* what)
{
    TSymbolTree enc;
    ExpectDecodes(EncodeSymbols(enc, seq, [](int) {}), seq, what);
}

// The decoder crosses the top levels through a table that an exchange near
// the root or a rebuild must invalidate; a stale table sends it down the
// wrong path. Long runs of a changing few symbols keep reshaping the top of
// the tree; a mix of literals and lengths reshapes it at its first rebuild.
TEST(SymbolTree, DecoderFollowsTopLevelExchangesAndRebuilds)
{
    std::vector<int> runs;
    const auto picks = lzhtest::RandomBytes(400, 5);
    for (std::size_t k = 0; runs.size() < 80000; ++k) {
        const int heavy = picks[k % picks.size()] % 6 + (k % 2 == 0 ? 0 : 256);
        runs.insert(runs.end(), 40U + picks[(k * 7) % picks.size()] % 300U, heavy);
        for (int s = 0; s < 20; ++s)
            runs.push_back(picks[(k + static_cast<std::size_t>(s)) % picks.size()]);
    }
    ExpectDecodedBack(runs, "runs");

    // A quarter match lengths, the rest 40 literals (found by trying seeds:
    // its first rebuild changes the top levels without an exchange there).
    std::vector<int> mix;
    std::uint32_t x = 4;
    while (mix.size() < 70000) {
        x = x * 1103515245U + 12345U;
        mix.push_back(static_cast<int>((x >> 16) % 4 == 0 ? 256 + (x >> 8) % 58 : (x >> 20) % 40));
    }
    ExpectDecodedBack(mix, "mix");
}

} // namespace
