#include "lzh/SymbolTree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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
    std::fill(std::begin(freq_) + NodeCount, std::end(freq_), std::uint16_t{0xFFFF});
    parent_[RootNode] = 0;
    IndexGrandparents();
    tableValid_ = false;
}

// Node c, tied with the nodes above it at frequency f, trades places with
// the last of them, l, each taking its subtree along, and l is counted. For a
// leaf the parent entry is its slot in the leaf table, so the symbol follows
// too. Returns the node whose count comes next: l's parent.
int TSymbolTree::Lift(int c, unsigned f)
{
    const int l = EndOfRun(c + 1, f);
    freq_[l] = U16(f + 1);
    if (tableValid_ && (inTable_[c] == tableEpoch_ || inTable_[l] == tableEpoch_))
        tableValid_ = false;
    const int a = child_[c];
    const int b = child_[l];
    child_[l] = I16(a);
    child_[c] = I16(b);
    Adopt(a, l);
    Adopt(b, c);
    return parent_[l];
}

// The last node from l on whose frequency is still f (freq_[l] is).
int TSymbolTree::EndOfRun(int l, unsigned f) const
{
#if defined(__SSE2__)
    // Eight frequencies at a time; the bias turns the signed comparison into
    // an unsigned one, and the sentinels behind the last node stop the scan.
    const __m128i bias = _mm_set1_epi16(std::int16_t(-0x8000));
    const __m128i limit = _mm_xor_si128(_mm_set1_epi16(static_cast<std::int16_t>(f)), bias);
    for (;;) {
        __m128i v;
        std::memcpy(&v, freq_ + l + 1, sizeof v);
        const unsigned above = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_xor_si128(v, bias), limit)));
        if (above != 0)
            return l + std::countr_zero(above) / 2;
        l += 8;
    }
#else
    while (freq_[l + 1] <= f)
        ++l;
    return l;
#endif
}

// Makes node n the parent of child (and of its sibling, when child is not a
// leaf's slot), keeping the grandparent entries of both generations below.
void TSymbolTree::Adopt(int child, int n)
{
    parent_[child] = I16(n);
    if (child >= NodeCount)
        return;
    parent_[child + 1] = I16(n);
    const int g = parent_[n];
    grand_[child] = grand_[child + 1] = I16(g);
    for (int k = child; k <= child + 1; ++k) {
        const int gc = child_[k];
        if (gc < NodeCount)
            grand_[gc] = grand_[gc + 1] = I16(n);
    }
}

// Counts one more along the path from symbol's leaf to the root. A node that
// ties with the next one first moves up past its run of equals (Lift), so the
// order stays sorted. Where nothing moves the walk takes two levels per step
// through the grandparent entries, so the next step's loads need not wait for
// this step's.
void TSymbolTree::Update(int symbol)
{
    if (freq_[RootNode] == FreqLimit)
        Rebuild();
    int c = parent_[NodeCount + symbol];
    for (;;) {
        const int p = parent_[c];
        const int g = grand_[c];
        const unsigned f = freq_[c];
        if (freq_[c + 1] <= f) {
            c = Lift(c, f);
        } else {
            freq_[c] = U16(f + 1);
            if (p == 0)
                return; // c is the root
            const unsigned fp = freq_[p];
            if (freq_[p + 1] <= fp) {
                c = Lift(p, fp);
            } else {
                freq_[p] = U16(fp + 1);
                c = g;
            }
        }
        if (c == 0) // the root's parent entry
            return;
    }
}

void TSymbolTree::IndexGrandparents()
{
    for (int i = 0; i < NodeCount; ++i)
        grand_[i] = parent_[parent_[i]];
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
    IndexGrandparents();
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
