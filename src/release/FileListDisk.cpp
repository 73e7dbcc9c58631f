// JudgeTarget on what the disk holds at a target path.
#include "release/ListRules.h"

#include <windows.h>

namespace qm {

TCompleteness JudgeTargetOnDisk(const std::string& Target, std::int32_t InstalledSize, const TListHash& InstalledHash)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA(Target.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return JudgeTarget(std::nullopt, -1, InstalledSize, InstalledHash);
    FindClose(find);
    const auto size = static_cast<std::int64_t>((std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow);
    TCompleteness judged = JudgeTarget(std::string(entry.cFileName), size, InstalledSize, InstalledHash);
    // The match's own name in Target's folder (Target may hold wildcards).
    const std::size_t folder = Target.find_last_of("\\/:");
    judged.FoundPath = Target.substr(0, folder == std::string::npos ? 0 : folder + 1) + entry.cFileName;
    return judged;
}

} // namespace qm
