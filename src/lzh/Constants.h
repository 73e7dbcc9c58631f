// Fixed parameters of the LZH bit stream. Changing any of them changes the
// format: encoder and decoder must agree on every one.
#pragma once

namespace qm::lzh {

inline constexpr int RingSize = 4096;      // sliding window; positions masked with RingSize - 1
inline constexpr int LookAhead = 60;       // longest match
inline constexpr int MatchThreshold = 2;   // matches this short are sent as literals
inline constexpr int NilNode = RingSize;   // absent node in the match tree
inline constexpr int SymbolCount = 256 - MatchThreshold + LookAhead; // 314: bytes, then lengths 3..60
inline constexpr int NodeCount = 2 * SymbolCount - 1;                // 627
inline constexpr int RootNode = NodeCount - 1;                       // 626
inline constexpr unsigned FreqLimit = 0x8000; // root frequency that triggers a rebuild
inline constexpr int StartPosition = RingSize - LookAhead;           // 4036
inline constexpr unsigned char FillByte = 0x20;                      // initial window content

} // namespace qm::lzh
