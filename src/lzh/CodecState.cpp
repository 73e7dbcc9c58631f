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
        state->Ring.fill(FillByte);
        return state;
    } catch (const std::bad_alloc&) {
        throw ElzhException(NoMemory);
    }
}

} // namespace qm::lzh
