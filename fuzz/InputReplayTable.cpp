// The input targets for input_fuzz_replay.
#include "InputTargets.h"
#include "ReplayTargets.h"

namespace qmfuzz {

TTarget ReplayTarget(const std::string& Name)
{
    if (Name == "filelist")
        return FuzzFileList;
    if (Name == "spliturl")
        return FuzzSplitURL;
    if (Name == "descramble")
        return FuzzDescramble;
    if (Name == "response")
        return FuzzResponse;
    if (Name == "retryafter" || Name == "logline")
        return Name == "logline" ? FuzzLogLine : FuzzRetryAfter;
    return nullptr;
}

} // namespace qmfuzz
