#include "release/ListRules.h"

#include "base/ExtraStr.h"

namespace qm {

bool IsPlainFileName(std::string_view Name)
{
    return !Name.empty() && Name != "." && Name != ".." && Name.find_first_of("\\/:") == std::string_view::npos &&
           !IsDeviceName(Name);
}

std::string TemporaryName(std::string_view Path)
{
    return std::string(Path) + std::string(TemporarySuffix);
}

bool IsTemporaryName(std::string_view Path)
{
    return Path.size() >= TemporarySuffix.size() &&
           TextEquals(Path.substr(Path.size() - TemporarySuffix.size()), TemporarySuffix);
}

std::optional<std::string> CheckRemoteName(std::string_view Name)
{
    std::string quoted = "\""; // not "\"" + ...: g++ 12 warns wrongly (-Wrestrict) on that at -O3
    (quoted += Name) += '"';
    if (!IsPlainFileName(Name))
        return "the remote name " + quoted + " is not a plain file name";
    if (IsTemporaryName(Name))
        return "the remote name " + quoted + " ends in \"" + std::string(TemporarySuffix) +
               "\", which is kept for unfinished files";
    if (TextEquals(Name, "list.txt") || TextEquals(Name, "list.txt.sig"))
        return "the remote name " + quoted + " is the name of the list or its signature";
    return std::nullopt;
}

std::optional<std::string> CheckListLine(const TListLine& Line, int LineNumber)
{
    const std::string where = " in line " + std::to_string(LineNumber) + " of the file list";
    if (!Line.InstalledSize.Value)
        return "The installed size" + where + " is not a number: \"" + Line.InstalledSize.Text + "\"";
    if (!IsPlainFileName(Line.RemoteName))
        return "The file list names a file that is not a plain file name: \"" + Line.RemoteName + "\"";
    if (std::optional<std::string> bad = CheckRemoteName(Line.RemoteName))
        return "The file list names a file it cannot use" + where + ": " + *bad;
    if (IsTemporaryName(Line.TargetPath))
        return "The target path" + where + " ends in \"" + std::string(TemporarySuffix) +
               "\", which is kept for unfinished files";
    return std::nullopt;
}

std::string ResolveTargetPath(std::string TargetPath, std::string_view SystemDir, std::string_view DownloadDir)
{
    ReplaceFirst(TargetPath, "{sys}", SystemDir);
    ReplaceFirst(TargetPath, "{prog}", DownloadDir);
    return TargetPath;
}

std::int64_t CountedSize(std::string_view Name, std::int64_t Size)
{
    return Name == "vcl30.dpl" ? 0 : Size;
}

std::int64_t CountedSizeAt(std::string_view TargetPath, std::int64_t Size)
{
    const std::size_t slash = TargetPath.find_last_of("\\:");
    return CountedSize(slash == std::string_view::npos ? TargetPath : TargetPath.substr(slash + 1), Size);
}

TCompleteness JudgeTarget(const std::optional<std::string>& FoundName, std::int64_t FoundSize,
                          std::int32_t InstalledSize)
{
    const std::int64_t size = FoundName ? CountedSize(*FoundName, FoundSize) : -1;
    if (size != InstalledSize)
        return {};
    const bool setupFile = FoundName && (TextEquals(*FoundName, "SETUP.INI") || TextEquals(*FoundName, "SETUP.PKG"));
    return {!setupFile, true};
}

} // namespace qm
