#include "lzh/CodecState.h"

#include <algorithm>
#include <new>

namespace qm::lzh {

namespace {

const char* const NoMemory = "LZH : Cannot get memory for dictionary tables";

} // namespace

std::unique_ptr<TEncoderState> AllocateEncoderState()
{
    try {
        return std::make_unique<TEncoderState>();
    } catch (const std::bad_alloc&) {
        throw ElzhException(NoMemory);
    }
}

std::unique_ptr<TDecoderState> AllocateDecoderState()
{
    try {
        // The ring comes zeroed; only the part before the start position
        // holds spaces. A stream may copy from the positions not yet written,
        // and those must read as zeros.
        auto state = std::make_unique<TDecoderState>();
        std::fill_n(state->Ring.begin(), StartPosition, FillByte);
        return state;
    } catch (const std::bad_alloc&) {
        throw ElzhException(NoMemory);
    }
}

} // namespace qm::lzh
