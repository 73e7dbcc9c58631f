// The adaptive Huffman tree that codes literal bytes and match lengths.
//
// Nodes are kept in non-decreasing order of frequency, and nodes 2m and 2m+1
// are always siblings, so an odd node is the second child of its pair and
// that is the bit that codes it. Encoder and decoder stay in step only because
// they start from the same tree and apply the same updates in the same order:
// every tie-break below is part of the format.
#pragma once

#include "lzh/Constants.h"

#include <cstdint>

namespace qm::lzh {

class TSymbolTree {
public:
    TSymbolTree() { Init(); }

    // The starting tree: every symbol with frequency 1, paired in order.
    void Init();

    // Counts one more occurrence of symbol and restores the order, rebuilding
    // the tree first when the root has reached FreqLimit.
    void Update(int symbol);

    // Emits the path from the root to symbol's leaf, then updates.
    template <class BitWriter>
    void Encode(int symbol, BitWriter& out)
    {
        EmitPath(parent_[NodeCount + symbol], out);
        Update(symbol);
    }

    // Walks from the root to a leaf, then updates. The first TableBits
    // levels are crossed in one step through the walk table; the rest one
    // bit at a time.
    template <class BitReader>
    int Decode(BitReader& in)
    {
        if (!tableValid_)
            BuildTable();
        const TWalkStep step = table_[in.PeekBits(TableBits)];
        in.SkipBits(step.Bits);
        int c = child_[step.Node];
        while (c < NodeCount)
            c = child_[c + static_cast<int>(in.GetBit())];
        const int symbol = c - NodeCount;
        Update(symbol);
        return symbol;
    }

    // Read access for checks of the tree's shape.
    unsigned Freq(int node) const { return freq_[node]; }
    int Child(int node) const { return child_[node]; }
    int Parent(int node) const { return parent_[node]; }
    int Grand(int node) const { return grand_[node]; } // the parent's parent
    int Leaf(int symbol) const { return parent_[NodeCount + symbol]; }

    // Levels the walk table covers: the top levels change rarely (a swap
    // there or a rebuild invalidates the table), and a table this small is
    // cheap to build again.
    static constexpr unsigned TableBits = 6;

private:
    struct TWalkStep {
        std::int16_t Node;  // the node reached after Bits bits (a leaf, or at depth TableBits)
        std::uint8_t Bits;
    };

    void Rebuild();
    int Lift(int c, unsigned f);
    int EndOfRun(int l, unsigned f) const;
    void Adopt(int child, int n);
    void IndexGrandparents();
    void BuildTable();
    void FillTable(int node, unsigned depth, unsigned prefix);

    // Bits are gathered leaf first, two levels per step through the
    // grandparent entries (so one step's loads need not wait for the last
    // one's), up to 62 at a time; the part nearer the root goes out first, so
    // a path of any depth is emitted in full.
    template <class BitWriter>
    void EmitPath(int node, BitWriter& out) const
    {
        std::uint64_t code = 0;
        unsigned len = 0;
        for (;;) {
            const int p = parent_[node];
            const int g = grand_[node];
            code |= static_cast<std::uint64_t>(node & 1) << len++;
            if (p == RootNode)
                break;
            code |= static_cast<std::uint64_t>(p & 1) << len++;
            if (g == RootNode)
                break;
            node = g;
            if (len >= 62) {
                EmitPath(node, out);
                break;
            }
        }
        if (len > 32)
            out.Put(static_cast<std::uint32_t>(code >> 32), len - 32);
        out.Put(static_cast<std::uint32_t>(code), len > 32 ? 32 : len);
    }

    // freq_[NodeCount] on are sentinels above any frequency: they end the
    // scan for the end of a run, which reads eight entries at a time.
    std::uint16_t freq_[NodeCount + 8] = {};
    // 0..626: parent of each node (the root's entry is 0);
    // NodeCount + s: the leaf that holds symbol s.
    std::int16_t parent_[NodeCount + SymbolCount] = {};
    // First child of an internal node (the second is the next index), or
    // NodeCount + s for a leaf holding symbol s.
    std::int16_t child_[NodeCount] = {};
    // The parent's parent of each node (0 for the root's children).
    std::int16_t grand_[NodeCount] = {};

    // The walk table: for each value of the next TableBits bits, where the
    // walk from the root ends after them. It reads the child entries of the
    // nodes above depth TableBits, which carry the stamp tableEpoch_ in
    // inTable_; an exchange involving such a node, or a rebuild, makes it
    // invalid, and the next Decode builds it again.
    TWalkStep table_[1U << TableBits] = {};
    std::uint16_t inTable_[NodeCount] = {};
    std::uint16_t tableEpoch_ = 0;
    bool tableValid_ = false;
};

} // namespace qm::lzh
