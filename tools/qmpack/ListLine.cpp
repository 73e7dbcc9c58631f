#include "ListLine.h"

#include "app/ExtraStr.h"
#include "app/FileListRules.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace qm::pack {

std::string FormatListLine(const TListLine& Line)
{
    std::string text = Line.DisplayName + '\t' + std::to_string(Line.DownloadSize) + '\t' +
                       std::to_string(Line.InstalledSize) + '\t' + Line.RemoteName + '\t' + Line.TargetPath +
                       '\t' + (Line.Compressed ? "yes" : "no");
    for (const std::string& field : Line.Extra)
        text += '\t' + field;
    return text;
}

std::vector<std::string> SplitListText(std::string_view Text)
{
    Text = Text.substr(0, Text.find('\0'));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < Text.size()) {
        const std::size_t end = std::min(Text.find_first_of("\r\n", start), Text.size());
        lines.emplace_back(Text.substr(start, end - start));
        start = end + (Text.substr(end).starts_with("\r\n") ? 2 : 1);
    }
    return lines;
}

std::vector<std::string> SplitFields(std::string_view Line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = Line.find('\t', start)) != std::string_view::npos; start = tab + 1)
        fields.emplace_back(Line.substr(start, tab - start));
    fields.emplace_back(Line.substr(start));
    return fields;
}

std::optional<std::string> CheckField(std::string_view What, std::string_view Value)
{
    const std::size_t bad = Value.find_first_of("\t\r\n");
    if (bad == std::string_view::npos)
        return std::nullopt;
    const char* name = Value[bad] == '\t' ? "a TAB" : Value[bad] == '\r' ? "a CR" : "an LF";
    return std::string(What) + " holds " + name + " character";
}

std::optional<std::string> CheckRemoteName(std::string_view Name)
{
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    };
    const std::string quoted = "remote name \"" + std::string(Name) + "\"";
    if (Name.empty())
        return "the remote name is empty";
    if (IsDeviceName(Name))
        return quoted + " is a Windows device name";
    if (!IsPlainFileName(Name))
        return quoted + " is not a plain file name";
    // Stricter than the loader: the name also goes into a URL unescaped.
    if (Name[0] == '.' || !std::all_of(Name.begin(), Name.end(), plain))
        return quoted + " is not a plain file name (letters, digits, '.', '_' and '-', not starting with '.')";
    if (SameFileName(Name, "list.txt") || SameFileName(Name, "list.txt.sig"))
        return quoted + " is the name of the list or its signature";
    return std::nullopt;
}

std::optional<std::string> CheckTargetAgainst(std::string_view TargetPath, const std::vector<std::string>& RemoteNames)
{
    constexpr std::string_view prog = "{prog}\\";
    if (!TargetPath.starts_with(prog))
        return std::nullopt;
    const std::string_view name = TargetPath.substr(prog.size());
    for (const std::string& remote : RemoteNames)
        if (SameFileName(name, remote))
            return "target \"" + std::string(TargetPath) + "\" is the downloaded copy of remote name \"" + remote +
                   "\" itself; give the remote name another name";
    return std::nullopt;
}

std::optional<std::int64_t> SizeValue(std::string_view Text)
{
    std::int64_t value = 0;
    const char* end = Text.data() + Text.size();
    const auto [stop, error] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || Text[0] == '-' || error != std::errc() || stop != end ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return value;
}

bool SameFileName(std::string_view A, std::string_view B)
{
    return TextEquals(A, B);
}

std::optional<std::size_t> EarlierDuplicate(const std::vector<std::string>& Names, std::size_t I)
{
    for (std::size_t j = 0; j < I && !Names[I].empty(); ++j)
        if (SameFileName(Names[j], Names[I]))
            return j;
    return std::nullopt;
}

} // namespace qm::pack
