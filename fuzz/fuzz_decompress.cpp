// libFuzzer entry: arbitrary bytes as a compressed stream.
#include "LzhTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qmfuzz::FuzzDecompress(data, size);
    return 0;
}
