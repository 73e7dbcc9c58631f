// The LZH targets for lzh_fuzz_replay.
#include "LzhTargets.h"
#include "ReplayTargets.h"

namespace qmfuzz {

TTarget ReplayTarget(const std::string& Name)
{
    if (Name == "decompress")
        return FuzzDecompress;
    if (Name == "roundtrip")
        return FuzzRoundTrip;
    return nullptr;
}

} // namespace qmfuzz
