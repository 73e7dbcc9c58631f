#include "Manifest.h"

#include "PackRules.h"
#include "release/ListRules.h"

#include <optional>

namespace qm::pack {
namespace {

constexpr int FieldCount = 5;
constexpr const char* FieldNames[FieldCount] = {"the display name", "the source file", "the remote name",
                                                 "the target path", "the compress word"};

std::string Trim(std::string_view S)
{
    const std::size_t first = S.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(S.substr(first, S.find_last_not_of(' ') - first + 1));
}

std::vector<std::string> SplitBars(std::string_view Line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = Line.find('|', start)) != std::string_view::npos; start = bar + 1)
        fields.push_back(Trim(Line.substr(start, bar - start)));
    fields.push_back(Trim(Line.substr(start)));
    return fields;
}

// The first problem of one line's fields, or the entry they make.
std::optional<std::string> ParseEntry(std::string_view Line, TManifestEntry& Entry)
{
    const std::vector<std::string> f = SplitBars(Line);
    if (f.size() != FieldCount)
        return "expected 5 fields separated by '|' (display name | source file | remote name | target path | "
               "compress), found " +
               std::to_string(f.size());
    for (int i = 0; i < FieldCount; ++i) {
        if (auto bad = CheckField(FieldNames[i], f[static_cast<std::size_t>(i)]))
            return bad;
        if (f[static_cast<std::size_t>(i)].empty())
            return std::string(FieldNames[i]) + " is empty";
    }
    if (auto bad = CheckRemoteName(f[2]))
        return bad;
    if (auto bad = qm::CheckListedTargetPath(f[3]))
        return bad;
    if (f[4] != "yes" && f[4] != "no")
        return "the compress word must be \"yes\" or \"no\", not \"" + f[4] + "\"";
    Entry.DisplayName = f[0];
    Entry.Source = f[1];
    Entry.RemoteName = f[2];
    Entry.TargetPath = f[3];
    Entry.Compressed = f[4] == "yes";
    return std::nullopt;
}

// Problems that only the whole set shows.
void CheckSet(TManifest& M, const std::string& Name)
{
    std::vector<std::string> remotes;
    for (const TManifestEntry& e : M.Entries)
        remotes.push_back(e.RemoteName);
    for (std::size_t i = 0; i < M.Entries.size(); ++i) {
        const TManifestEntry& e = M.Entries[i];
        const std::string where = Name + ":" + std::to_string(e.Line) + ": ";
        if (const auto j = EarlierDuplicate(remotes, i))
            M.Errors.push_back(where + "remote name \"" + e.RemoteName + "\" is already used on line " +
                               std::to_string(M.Entries[*j].Line));
        if (auto bad = CheckTargetAgainst(e.TargetPath, remotes))
            M.Errors.push_back(where + *bad);
    }
}

} // namespace

TManifest ParseManifest(std::string_view Text, const std::string& Name)
{
    TManifest m;
    int number = 0;
    for (std::size_t start = 0; start < Text.size();) {
        std::size_t end = Text.find('\n', start);
        end = end == std::string_view::npos ? Text.size() : end;
        std::string_view line = Text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        TManifestEntry entry;
        entry.Line = number;
        if (auto bad = ParseEntry(line, entry))
            m.Errors.push_back(Name + ":" + std::to_string(number) + ": " + *bad);
        else
            m.Entries.push_back(std::move(entry));
    }
    CheckSet(m, Name);
    return m;
}

} // namespace qm::pack
