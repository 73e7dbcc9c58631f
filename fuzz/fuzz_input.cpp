// libFuzzer entry for one of the input targets, chosen by QM_FUZZ_TARGET
// (a function of InputTargets.h) when this file is compiled.
#include "InputTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qmfuzz::QM_FUZZ_TARGET(data, size);
    return 0;
}
