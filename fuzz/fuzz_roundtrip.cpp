// libFuzzer entry: compress, decompress, compare.
#include "LzhTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qmfuzz::FuzzRoundTrip(data, size);
    return 0;
}
