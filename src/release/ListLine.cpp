#include "release/ListLine.h"

#include <algorithm>
#include <charconv>

namespace qm {
namespace {

// Field N, empty when the line has fewer fields or no TAB at all.
std::string_view Field(const std::vector<std::string>& Fields, std::size_t N)
{
    return Fields.size() > 1 && N < Fields.size() ? std::string_view(Fields[N]) : std::string_view();
}

} // namespace

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

TListLine ParseListLine(std::string_view Line)
{
    const std::vector<std::string> fields = SplitFields(Line);
    TListLine line;
    line.DisplayName = Field(fields, 0);
    line.DownloadSize = TListSize::Read(Field(fields, 1));
    line.InstalledSize = TListSize::Read(Field(fields, 2));
    line.RemoteName = Field(fields, 3);
    line.TargetPath = Field(fields, 4);
    line.Compressed = Field(fields, 5) == "yes";
    line.Sha256 = ReadHashField(Field(fields, ListHashField));
    line.InstalledSha256 = ReadHashField(Field(fields, ListInstalledHashField));
    if (fields.size() > ListInstalledHashField + 1)
        line.Extra.assign(fields.begin() + ListInstalledHashField + 1, fields.end());
    return line;
}

std::string FormatListLine(const TListLine& Line)
{
    std::string text = Line.DisplayName + '\t' + Line.DownloadSize.Text + '\t' + Line.InstalledSize.Text + '\t' +
                       Line.RemoteName + '\t' + Line.TargetPath + '\t' + (Line.Compressed ? "yes" : "no");
    const bool installed = !Line.InstalledSha256.Text.empty() || !Line.Extra.empty();
    if (installed || !Line.Sha256.Text.empty())
        text += '\t' + Line.Sha256.Text;
    if (installed)
        text += '\t' + Line.InstalledSha256.Text;
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

} // namespace qm
