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

} // namespace

void TMatchTree::Init()
{
    std::fill(std::begin(right_) + RootBase, std::end(right_), I16(NilNode));
    std::fill(std::begin(parent_), std::end(parent_), I16(NilNode));
    // Only the first StartPosition bytes need the fill; the rest of the
    // window is filled too, so that comparisons running past the end of a
    // short input see defined bytes.
    std::fill(std::begin(ring_), std::end(ring_), FillByte);
    MatchLength = 0;
    MatchPosition = 0;
}

void TMatchTree::Insert(int r)
{
    const std::uint8_t* key = &ring_[r];
    int cmp = 1;
    int p = RootBase + key[0];
    left_[r] = right_[r] = NilNode;
    MatchLength = 0;
    for (;;) {
        std::int16_t& next = cmp >= 0 ? right_[p] : left_[p];
        if (next == NilNode) {
            next = I16(r);
            parent_[r] = I16(p);
            return;
        }
        p = next;
        const std::uint8_t* other = &ring_[p];
        const int i = 1 + CommonPrefix(key + 1, other + 1, LookAhead - 1);
        cmp = i < LookAhead ? key[i] - other[i] : 0;
        if (i > MatchThreshold) {
            const int d = ((r - p) & (RingSize - 1)) - 1;
            if (i > MatchLength) {
                MatchPosition = d;
                MatchLength = i;
                if (i >= LookAhead)
                    break;
            } else if (i == MatchLength && d < MatchPosition) {
                MatchPosition = d;
            }
        }
    }
    Replace(p, r);
}

// The link in parent's node that points at child (roots have only right
// children, so the right link is tested first).
std::int16_t& TMatchTree::LinkTo(int parent, int child)
{
    return right_[parent] == child ? right_[parent] : left_[parent];
}

// r takes over p's place, children and parent; p leaves the tree.
void TMatchTree::Replace(int p, int r)
{
    parent_[r] = parent_[p];
    left_[r] = left_[p];
    right_[r] = right_[p];
    parent_[left_[p]] = I16(r);
    parent_[right_[p]] = I16(r);
    LinkTo(parent_[p], p) = I16(r);
    parent_[p] = NilNode;
}

void TMatchTree::Remove(int p)
{
    if (parent_[p] == NilNode)
        return;
    int q = 0;
    if (right_[p] == NilNode) {
        q = left_[p];
    } else if (left_[p] == NilNode) {
        q = right_[p];
    } else {
        // Two children: p's in-order predecessor q takes its place.
        q = left_[p];
        if (right_[q] != NilNode) {
            do {
                q = right_[q];
            } while (right_[q] != NilNode);
            right_[parent_[q]] = left_[q];
            parent_[left_[q]] = parent_[q];
            left_[q] = left_[p];
            parent_[left_[p]] = I16(q);
        }
        right_[q] = right_[p];
        parent_[right_[p]] = I16(q);
    }
    parent_[q] = parent_[p];
    LinkTo(parent_[p], p) = I16(q);
    parent_[p] = NilNode;
}

} // namespace qm::lzh
