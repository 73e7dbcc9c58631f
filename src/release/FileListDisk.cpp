// JudgeTarget on what the disk holds at a target path.
#include "release/ListRules.h"

#include <windows.h>

namespace qm {

TCompleteness JudgeTargetOnDisk(const std::string& Target, std::int32_t InstalledSize)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA(Target.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return JudgeTarget(std::nullopt, -1, InstalledSize);
    FindClose(find);
    const auto size = static_cast<std::int64_t>((std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow);
    return JudgeTarget(std::string(entry.cFileName), size, InstalledSize);
}

} // namespace qm
