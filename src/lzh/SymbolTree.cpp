#include "lzh/SymbolTree.h"

#include <algorithm>
#include <iterator>

namespace qm::lzh {

namespace {

std::int16_t I16(int v) { return static_cast<std::int16_t>(v); }
std::uint16_t U16(unsigned v) { return static_cast<std::uint16_t>(v); }

} // namespace

void TSymbolTree::Init()
{
    for (int s = 0; s < SymbolCount; ++s) {
        freq_[s] = 1;
        child_[s] = I16(s + NodeCount);
        parent_[s + NodeCount] = I16(s);
    }
    for (int i = 0, j = SymbolCount; j <= RootNode; i += 2, ++j) {
        freq_[j] = U16(freq_[i] + freq_[i + 1]);
        child_[j] = I16(i);
        parent_[i] = parent_[i + 1] = I16(j);
    }
    freq_[NodeCount] = 0xFFFF;
    parent_[RootNode] = 0;
    tableValid_ = false;
}

// Node c has just become more frequent than node l, the highest node still
// below it: they trade places, each taking its subtree along. For a leaf the
// parent entry is its slot in the leaf table, so the symbol follows too.
void TSymbolTree::SwapWithHigher(int c, int l)
{
    if (tableValid_ && (inTable_[c] == tableEpoch_ || inTable_[l] == tableEpoch_))
        tableValid_ = false;
    const int a = child_[c];
    const int b = child_[l];
    parent_[a] = I16(l);
    if (a < NodeCount)
        parent_[a + 1] = I16(l);
    parent_[b] = I16(c);
    if (b < NodeCount)
        parent_[b + 1] = I16(c);
    child_[l] = I16(a);
    child_[c] = I16(b);
}

void TSymbolTree::Update(int symbol)
{
    if (freq_[RootNode] == FreqLimit)
        Rebuild();
    int c = parent_[NodeCount + symbol];
    do {
        const unsigned f = ++freq_[c];
        if (f > freq_[c + 1]) {
            // Frequencies above c are sorted: find the last one below f.
            int l = c + 1;
            while (f > freq_[l + 1])
                ++l;
            freq_[c] = freq_[l];
            freq_[l] = U16(f);
            SwapWithHigher(c, l);
            c = l;
        }
        c = parent_[c];
    } while (c != 0); // the root's parent entry is 0
}

// Halves every leaf frequency (rounding up, so none drops to 0) and builds
// the tree anew. A new internal node goes after all nodes of equal frequency.
void TSymbolTree::Rebuild()
{
    tableValid_ = false;
    int j = 0;
    for (int i = 0; i < NodeCount; ++i) {
        if (child_[i] >= NodeCount) {
            freq_[j] = U16((freq_[i] + 1U) / 2U);
            child_[j] = child_[i];
            ++j;
        }
    }
    for (int i = 0, n = SymbolCount; n < NodeCount; i += 2, ++n) {
        const unsigned f = freq_[i] + freq_[i + 1];
        int k = n - 1;
        while (f < freq_[k])
            --k;
        ++k;
        std::copy_backward(freq_ + k, freq_ + n, freq_ + n + 1);
        std::copy_backward(child_ + k, child_ + n, child_ + n + 1);
        freq_[k] = U16(f);
        child_[k] = I16(i);
    }
    for (int i = 0; i < NodeCount; ++i) {
        const int k = child_[i];
        parent_[k] = I16(i);
        if (k < NodeCount)
            parent_[k + 1] = I16(i);
    }
}

void TSymbolTree::BuildTable()
{
    // A new stamp unmarks every node at once; when the stamps run out they
    // are cleared (stamp 0 is never used, so a fresh tree has no marks).
    if (++tableEpoch_ == 0) {
        std::fill(std::begin(inTable_), std::end(inTable_), std::uint16_t{0});
        tableEpoch_ = 1;
    }
    inTable_[RootNode] = tableEpoch_;
    const int c = child_[RootNode];
    FillTable(c, 1, 0);
    FillTable(c + 1, 1, 1);
    tableValid_ = true;
}

// node is where the bits of prefix (depth of them) lead from the root.
void TSymbolTree::FillTable(int node, unsigned depth, unsigned prefix)
{
    if (depth == TableBits || child_[node] >= NodeCount) {
        const unsigned shift = TableBits - depth;
        const TWalkStep step{I16(node), static_cast<std::uint8_t>(depth)};
        std::fill_n(table_ + (prefix << shift), 1U << shift, step);
        if (depth < TableBits)
            inTable_[node] = tableEpoch_; // a leaf read above the table's depth
        return;
    }
    inTable_[node] = tableEpoch_;
    const int c = child_[node];
    FillTable(c, depth + 1, prefix << 1);
    FillTable(c + 1, depth + 1, (prefix << 1) | 1U);
}

} // namespace qm::lzh
