// The codec's working tables, allocated once per call.
#pragma once

#include "lzh/Constants.h"
#include "lzh/LzhError.h"
#include "lzh/MatchTree.h"
#include "lzh/SymbolTree.h"

#include <array>
#include <cstdint>
#include <memory>

namespace qm::lzh {

struct TEncoderState {
    TSymbolTree Symbols;
    TMatchTree Matches;
};

struct TDecoderState {
    TSymbolTree Symbols;
    std::array<std::uint8_t, RingSize> Ring{};
};

// Both set up their tables; both raise ElzhException when memory is short.
std::unique_ptr<TEncoderState> AllocateEncoderState();
std::unique_ptr<TDecoderState> AllocateDecoderState();

} // namespace qm::lzh
