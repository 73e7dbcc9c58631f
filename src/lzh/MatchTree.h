// The encoder's window and its match finder: one binary search tree of ring
// positions per value of a position's first byte, ordered by the 60 bytes
// that follow each position.
#pragma once

#include "lzh/Constants.h"

#include <cstdint>

namespace qm::lzh {

class TMatchTree {
public:
    TMatchTree() { Init(); }

    // Empties the trees and fills the window (and its mirror) with FillByte.
    void Init();

    // Inserts position r and sets MatchLength and MatchPosition to its
    // longest match among the positions in the tree; among equally long
    // matches the nearest wins. A full-length match replaces the older node.
    // Insert<false> changes the tree in the same way but leaves MatchLength
    // and MatchPosition meaningless, for positions whose match is not used.
    template <bool Want = true>
    void Insert(int r);
    // Inserts r and then r + 1 with the outcome of Insert(r); Insert(r + 1),
    // but walks both trees side by side, so that neither walk waits for the
    // other's loads. Only for positions whose first bytes differ: the two
    // walks must not share a tree. WantFirst and WantSecond say which of the
    // two matches is kept, as Want does for Insert. r's match goes to
    // firstLength and firstPosition; r + 1's to MatchLength and MatchPosition.
    template <bool WantFirst, bool WantSecond>
    void InsertPair(int r, int& firstLength, int& firstPosition);

    // Inserts r when its key equals that of r - 1, the newest node: the
    // walk would end there with a full-length match at distance 1, so r takes
    // r - 1's place at once. The outcome is Insert(r)'s.
    void InsertRepeat(int r)
    {
        Replace((r - 1) & (RingSize - 1), r);
        MatchLength = LookAhead;
        MatchPosition = 0;
    }

    // Whether p's node is in the tree of first byte b.
    bool InTree(int p, std::uint8_t b) const { return parent_[p] != NilNode && ring_[p] == b; }
    // Takes position p out of its tree (nothing when it is not in one).
    void Remove(int p);

    // Stores a byte at ring position s, mirrored past the end of the window
    // so that a LookAhead-byte comparison never wraps.
    void Store(int s, std::uint8_t byte)
    {
        ring_[s] = byte;
        if (s < LookAhead - 1)
            ring_[s + RingSize] = byte;
    }
    std::uint8_t At(int pos) const { return ring_[pos]; }

    int MatchLength = 0;
    int MatchPosition = 0; // distance back minus 1

private:
    static constexpr int RootBase = RingSize + 1; // root of first byte b: RootBase + b
    enum : int { Left = 0, Right = 1 };

    struct TWalk;
    void Start(TWalk& w, int r);
    template <bool Want>
    bool Step(TWalk& w);

    std::int16_t& LinkTo(int parent, int child);
    void Replace(int p, int r);

    // child_[n][Left], child_[n][Right]; the roots (4097 + b for first byte
    // b) use only their right link.
    std::int16_t child_[RingSize + 257][2] = {};
    // Entry NilNode absorbs the writes made for absent children.
    std::int16_t parent_[RingSize + 1] = {};
    // The window, and a copy of its first LookAhead - 1 bytes behind it.
    std::uint8_t ring_[RingSize + LookAhead - 1] = {};
};

} // namespace qm::lzh
