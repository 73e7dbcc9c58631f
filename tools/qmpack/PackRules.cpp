#include "PackRules.h"

#include "base/ExtraStr.h"
#include "release/ListRules.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace qm::pack {

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
    if (std::optional<std::string> bad = qm::CheckRemoteName(Name))
        return bad->substr(4); // without the leading "the "
    // Stricter than the loader: the name also goes into a URL unescaped.
    if (Name[0] == '.' || !std::all_of(Name.begin(), Name.end(), plain))
        return "remote name \"" + std::string(Name) +
               "\" is not a plain file name (letters, digits, '.', '_' and '-', not starting with '.')";
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
