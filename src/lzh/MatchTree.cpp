#include "lzh/MatchTree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

namespace qm::lzh {

namespace {

std::int16_t I16(int v) { return static_cast<std::int16_t>(v); }

// Number of equal leading bytes of a and b, at most n, compared a machine
// word at a time where the byte order allows.
int CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, int n)
{
    int i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t x = 0;
            std::uint64_t y = 0;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y)
                return i + std::countr_zero(x ^ y) / 8;
        }
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// Eight bytes as one number whose order is the bytes' lexicographic order.
std::uint64_t BigEndianWord(const std::uint8_t* p)
{
    std::uint64_t w = 0;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        w = __builtin_bswap64(w);
    return w;
}

} // namespace

void TMatchTree::Init()
{
    for (auto& c : child_)
        c[Left] = c[Right] = I16(NilNode);
    std::fill(std::begin(parent_), std::end(parent_), I16(NilNode));
    // Only the first StartPosition bytes need the fill; the rest of the
    // window is filled too, so that comparisons running past the end of a
    // short input see defined bytes.
    std::fill(std::begin(ring_), std::end(ring_), FillByte);
    MatchLength = 0;
    MatchPosition = 0;
}

// One insertion in progress: where the new node would hang now, and the
// best match seen on the way down.
struct TMatchTree::TWalk {
    const std::uint8_t* Key;
    std::uint64_t KeyWord; // the key's bytes 1 to 8
    int R;
    int Owner; // the new node hangs from this node's link on Side
    int Side;
    int Next;  // where that link points now
    int Length;
    int Position;
};

void TMatchTree::Start(TWalk& w, int r)
{
    w.Key = &ring_[r];
    w.KeyWord = BigEndianWord(w.Key + 1);
    w.R = r;
    w.Owner = RootBase + w.Key[0];
    w.Side = Right;
    w.Next = child_[w.Owner][Right];
    w.Length = 0;
    w.Position = 0; // read only once Length is a match's
    child_[r][Left] = child_[r][Right] = NilNode;
}

// Goes one node down; false once the new node is in place. Without Want
// the walk only finds the new node's place (and a full-length match, which
// it replaces); the best match is not kept.
template <bool Want>
inline bool TMatchTree::Step(TWalk& w)
{
    const int p = w.Next;
    if (p == NilNode) {
        child_[w.Owner][w.Side] = I16(w.R);
        parent_[w.R] = I16(w.Owner);
        return false;
    }
    // Both of p's links are read before the comparison decides between
    // them, so that the next node's loads wait for one load, not two.
    const int left = child_[p][Left];
    const int right = child_[p][Right];
    const std::uint8_t* other = &ring_[p];
    const std::uint64_t otherWord = BigEndianWord(other + 1);
    const int d = ((w.R - p) & (RingSize - 1)) - 1;
    int i = 0;
    if (otherWord != w.KeyWord) {
        w.Side = w.KeyWord > otherWord ? Right : Left;
        w.Owner = p;
        w.Next = w.Side == Right ? right : left;
        if constexpr (!Want)
            return true;
        i = 1 + std::countl_zero(w.KeyWord ^ otherWord) / 8;
    } else {
        i = 9 + CommonPrefix(w.Key + 9, other + 9, LookAhead - 9);
        if (i >= LookAhead) {
            w.Length = LookAhead;
            w.Position = d;
            Replace(p, w.R);
            return false;
        }
        w.Side = w.Key[i] > other[i] ? Right : Left;
        w.Owner = p;
        w.Next = w.Side == Right ? right : left;
    }
    // Longest wins, then nearest; chosen without branches, since the choice
    // is as unpredictable as the data.
    const bool take = (i > MatchThreshold) & ((i > w.Length) | ((i == w.Length) & (d < w.Position)));
    w.Length = take ? i : w.Length;
    w.Position = take ? d : w.Position;
    return true;
}

template <bool Want>
void TMatchTree::Insert(int r)
{
    TWalk w;
    Start(w, r);
    while (Step<Want>(w)) {
    }
    MatchLength = w.Length;
    MatchPosition = w.Position;
}

template <bool WantFirst, bool WantSecond>
void TMatchTree::InsertPair(int r, int& firstLength, int& firstPosition)
{
    TWalk a;
    TWalk b;
    Start(a, r);
    Start(b, (r + 1) & (RingSize - 1));
    bool moreA = true;
    bool moreB = true;
    while (moreA & moreB) {
        moreA = Step<WantFirst>(a);
        moreB = Step<WantSecond>(b);
    }
    while (moreA)
        moreA = Step<WantFirst>(a);
    while (moreB)
        moreB = Step<WantSecond>(b);
    firstLength = a.Length;
    firstPosition = a.Position;
    MatchLength = b.Length;
    MatchPosition = b.Position;
}

template void TMatchTree::Insert<true>(int);
template void TMatchTree::Insert<false>(int);
template void TMatchTree::InsertPair<false, false>(int, int&, int&);
template void TMatchTree::InsertPair<false, true>(int, int&, int&);
template void TMatchTree::InsertPair<true, true>(int, int&, int&);

// The link in parent's node that points at child (roots have only right
// children, so the right link is tested first).
std::int16_t& TMatchTree::LinkTo(int parent, int child)
{
    return child_[parent][child_[parent][Right] == child ? Right : Left];
}

// r takes over p's place, children and parent; p leaves the tree.
void TMatchTree::Replace(int p, int r)
{
    parent_[r] = parent_[p];
    child_[r][Left] = child_[p][Left];
    child_[r][Right] = child_[p][Right];
    parent_[child_[p][Left]] = I16(r);
    parent_[child_[p][Right]] = I16(r);
    LinkTo(parent_[p], p) = I16(r);
    parent_[p] = NilNode;
}

void TMatchTree::Remove(int p)
{
    if (parent_[p] == NilNode)
        return;
    int q = 0;
    if (child_[p][Right] == NilNode) {
        q = child_[p][Left];
    } else if (child_[p][Left] == NilNode) {
        q = child_[p][Right];
    } else {
        // Two children: p's in-order predecessor q takes its place.
        q = child_[p][Left];
        if (child_[q][Right] != NilNode) {
            do {
                q = child_[q][Right];
            } while (child_[q][Right] != NilNode);
            child_[parent_[q]][Right] = child_[q][Left];
            parent_[child_[q][Left]] = parent_[q];
            child_[q][Left] = child_[p][Left];
            parent_[child_[p][Left]] = I16(q);
        }
        child_[q][Right] = child_[p][Right];
        parent_[child_[p][Right]] = I16(q);
    }
    parent_[q] = parent_[p];
    LinkTo(parent_[p], p) = I16(q);
    parent_[p] = NilNode;
}

} // namespace qm::lzh
