#include "lzh/CodecState.h"

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
        auto state = std::make_unique<TDecoderState>();
        // The whole ring, not only the part before the start position: a
        // corrupt stream may copy from positions not yet written, and those
        // must hold defined bytes.
        state->Ring.fill(FillByte);
        return state;
    } catch (const std::bad_alloc&) {
        throw ElzhException(NoMemory);
    }
}

} // namespace qm::lzh
