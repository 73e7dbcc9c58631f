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
    void Insert(int r);
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

    std::int16_t& LinkTo(int parent, int child);
    void Replace(int p, int r);

    std::int16_t left_[RingSize + 1] = {};
    std::int16_t right_[RingSize + 257] = {}; // 4097 + b: root of first byte b
    // Entry NilNode absorbs the writes made for absent children.
    std::int16_t parent_[RingSize + 1] = {};
    // The window, and a copy of its first LookAhead - 1 bytes behind it.
    std::uint8_t ring_[RingSize + LookAhead - 1] = {};
};

} // namespace qm::lzh
