// The rules for one line of list.txt.
#include "app/FileListRules.h"

#include "app/ExtraStr.h"

#include <charconv>

namespace qm {

std::optional<std::int32_t> DecimalValue(std::string_view Text)
{
    if (Text.size() > 1 && Text[0] == '+' && Text[1] != '-')
        Text.remove_prefix(1);
    std::int32_t value = 0;
    const char* end = Text.data() + Text.size();
    const auto [stop, error] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

bool IsPlainFileName(std::string_view Name)
{
    return !Name.empty() && Name != "." && Name != ".." && Name.find_first_of("\\/:") == std::string_view::npos &&
           !IsDeviceName(Name);
}

std::string ResolveTargetPath(std::string TargetPath, std::string_view SystemDir, std::string_view DownloadDir)
{
    ReplaceFirst(TargetPath, "{sys}", SystemDir);
    ReplaceFirst(TargetPath, "{prog}", DownloadDir);
    return TargetPath;
}

TListEntry ReadListLine(const std::string& Line, std::string_view SystemDir, std::string_view DownloadDir)
{
    TListEntry entry;
    entry.DisplayName = GetField(Line, ListSeparator, 0);
    entry.DownloadSize = GetField(Line, ListSeparator, 1);
    entry.InstalledSize = DecimalValue(GetField(Line, ListSeparator, 2));
    entry.RemoteName = GetField(Line, ListSeparator, 3);
    entry.TargetPath = ResolveTargetPath(GetField(Line, ListSeparator, 4), SystemDir, DownloadDir);
    // The appended separator makes field 4 end at one even as the line's
    // last field.
    std::string stored = Line;
    stored += ListSeparator;
    ReplaceField(stored, entry.TargetPath, ListSeparator, 4);
    entry.Stored = DropLast(stored, 1);
    return entry;
}

TCompleteness JudgeTarget(const std::optional<std::string>& FoundName, std::int64_t FoundSize,
                          std::int32_t InstalledSize)
{
    const std::int64_t size = !FoundName ? -1 : *FoundName == "vcl30.dpl" ? 0 : FoundSize;
    if (size != InstalledSize)
        return {};
    const bool setupFile = FoundName && (TextEquals(*FoundName, "SETUP.INI") || TextEquals(*FoundName, "SETUP.PKG"));
    return {!setupFile, true};
}

} // namespace qm
