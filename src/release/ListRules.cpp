#include "release/ListRules.h"

#include "base/ExtraStr.h"
#include "release/ReleaseFiles.h"

#include <algorithm>

namespace qm {

namespace {

std::string Quoted(std::string_view Text)
{
    std::string quoted = "\""; // not "\"" + ...: g++ 12 warns wrongly (-Wrestrict) on that at -O3
    (quoted += Text) += '"';
    return quoted;
}

bool IsControl(char C)
{
    return static_cast<unsigned char>(C) < 0x20 || C == 0x7F;
}

// The name of a file the loader keeps in the download directory itself.
bool IsKeptFileName(std::string_view Name)
{
    return TextEquals(Name, "list.txt") || TextEquals(Name, SignatureFileName) ||
           TextEquals(Name, SequenceFileName);
}

// A drive at the start of a path: a letter and ':'.
bool StartsWithDrive(std::string_view Path)
{
    return Path.size() >= 2 && Path[1] == ':' && ((Path[0] >= 'A' && Path[0] <= 'Z') || (Path[0] >= 'a' && Path[0] <= 'z'));
}

// Why a name part of Path (a list's own text, not a folder of this computer,
// where short names are common) could be another file's short name.
std::optional<std::string> ShortNameClause(std::string_view Path)
{
    for (std::size_t tilde = Path.find('~'); tilde != std::string_view::npos; tilde = Path.find('~', tilde + 1))
        if (tilde + 1 < Path.size() && Path[tilde + 1] >= '0' && Path[tilde + 1] <= '9') {
            const std::size_t from = Path.find_last_of("\\/", tilde);
            const std::string_view part = Path.substr(from == std::string_view::npos ? 0 : from + 1);
            return Quoted(part.substr(0, part.find_first_of("\\/"))) +
                   " holds \"~\" and a digit, which Windows may take for another file's short name";
        }
    return std::nullopt;
}

// Path as Windows reads it: "/" taken for "\", empty parts (but a network
// path's leading "\\") and "." dropped, ".." taking the part before it away.
std::string NormalPath(std::string_view Path)
{
    std::vector<std::string_view> parts;
    std::string normal = Path.starts_with("\\\\") || Path.starts_with("//") ? "\\" : "";
    for (std::size_t at = 0; at <= Path.size();) {
        const std::size_t end = std::min(Path.find_first_of("\\/", at), Path.size());
        const std::string_view part = Path.substr(at, end - at);
        if (part == ".." && !parts.empty())
            parts.pop_back();
        else if (!part.empty() && part != "." && part != "..")
            parts.push_back(part);
        at = end + 1;
    }
    for (const std::string_view part : parts)
        (normal += "\\") += part;
    return normal;
}

} // namespace

std::optional<std::string> CheckFileName(std::string_view Name)
{
    const std::string quoted = Quoted(Name);
    if (Name.empty())
        return quoted + " is empty";
    if (Name == "." || Name == ".." || Name.find_first_of("\\/") != std::string_view::npos)
        return quoted + " is not a plain file name";
    if (std::any_of(Name.begin(), Name.end(), IsControl))
        return quoted + " holds a control character";
    if (Name.find(':') != std::string_view::npos)
        return quoted + " holds \":\", which Windows takes for a drive or a stream";
    if (Name.back() == '.' || Name.back() == ' ')
        return quoted + " ends in a dot or a space, which Windows drops from a name";
    if (IsDeviceName(Name))
        return quoted + " is a Windows device name";
    if (IsTemporaryName(Name))
        return quoted + " ends in \"" + std::string(TemporarySuffix) + "\", which is kept for unfinished files";
    return std::nullopt;
}

bool IsPlainFileName(std::string_view Name)
{
    return !CheckFileName(Name);
}

std::string TemporaryName(std::string_view Path)
{
    return std::string(Path) + std::string(TemporarySuffix);
}

bool IsTemporaryName(std::string_view Path)
{
    const std::size_t kept = Path.find_last_not_of(". ");
    Path = Path.substr(0, kept == std::string_view::npos ? 0 : kept + 1);
    return Path.size() >= TemporarySuffix.size() &&
           TextEquals(Path.substr(Path.size() - TemporarySuffix.size()), TemporarySuffix);
}

std::optional<std::string> CheckRemoteName(std::string_view Name)
{
    if (std::optional<std::string> bad = CheckFileName(Name))
        return "the remote name " + *bad;
    if (std::optional<std::string> bad = ShortNameClause(Name))
        return "the remote name " + *bad;
    if (Name.find_first_of("<>\"|?*") != std::string_view::npos)
        return "the remote name " + Quoted(Name) + " holds one of < > \" | ? *, which Windows refuses in a file name";
    if (IsKeptFileName(Name))
        return "the remote name " + Quoted(Name) + " is the name of the list or its signature";
    return std::nullopt;
}

std::optional<std::string> CheckTargetPath(std::string_view Path)
{
    if (Path.empty())
        return "the target path is empty";
    const std::string where = "the target path " + Quoted(Path) + ": ";
    std::string_view rest = StartsWithDrive(Path) ? Path.substr(2) : Path;
    for (;;) {
        const std::size_t slash = rest.find_first_of("\\/");
        const std::string_view part = rest.substr(0, slash);
        if (slash == std::string_view::npos) {
            if (std::optional<std::string> bad = CheckFileName(part))
                return where + *bad;
            return std::nullopt;
        }
        if (!part.empty() && part != "." && part != "..")
            if (std::optional<std::string> bad = CheckFileName(part))
                return where + *bad;
        rest.remove_prefix(slash + 1);
    }
}

std::optional<std::string> CheckListedTargetPath(std::string_view Path)
{
    if (std::optional<std::string> bad = CheckTargetPath(Path))
        return bad;
    if (std::optional<std::string> bad = ShortNameClause(Path))
        return "the target path " + Quoted(Path) + ": " + *bad;
    return std::nullopt;
}

std::optional<std::string> CheckListLine(const TListLine& Line, std::string_view Target, int LineNumber)
{
    const std::string where = " in line " + std::to_string(LineNumber) + " of the file list";
    if (!Line.InstalledSize.Value)
        return "The installed size" + where + " is not a number: \"" + Line.InstalledSize.Text + "\"";
    if (std::optional<std::string> bad = CheckRemoteName(Line.RemoteName))
        return "The file list names a file it cannot use" + where + ": " + *bad;
    std::optional<std::string> bad = CheckTargetPath(Target);
    if (!bad && (bad = ShortNameClause(Line.TargetPath)))
        *bad = "the target path " + Quoted(Line.TargetPath) + ": " + *bad;
    if (bad)
        return "The file list gives a target it cannot use" + where + ": " + *bad;
    return std::nullopt;
}

std::optional<std::string> CheckLinePlace(const TListLine& Line, std::string_view Target, std::string_view DownloadDir,
                                          const std::vector<std::string>& KeptFiles, int LineNumber)
{
    const std::string where = " in line " + std::to_string(LineNumber) + " of the file list: ";
    const std::string download = std::string(DownloadDir) + "\\" + Line.RemoteName;
    for (const std::string& path : {std::string(Target), download})
        if (path.size() + TemporarySuffix.size() > MaxPathLength)
            return "The file list names a path too long for Windows" + where + Quoted(path) + " with \"" +
                   std::string(TemporarySuffix) + "\" behind it is longer than " + std::to_string(MaxPathLength) +
                   " characters";
    const auto nameOf = [](std::string_view Path) { return Path.substr(Path.find_last_of("\\/") + 1); };
    for (const std::string& kept : KeptFiles) // the names first: a list has many lines
        if (TextEquals(nameOf(Target), nameOf(kept)) && TextEquals(NormalPath(Target), NormalPath(kept)))
            return "The file list gives a target it cannot use" + where + "the target path " + Quoted(Target) +
                   " is a file the loader keeps";
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

bool PlacedSizeFits(std::string_view TargetPath, std::int64_t Size, std::optional<std::int32_t> Installed)
{
    if (!Installed || *Installed == -1)
        return true;
    return Size == *Installed || CountedSizeAt(TargetPath, Size) == *Installed;
}

std::optional<std::int64_t> PlacedSizeLimit(std::string_view TargetPath, std::optional<std::int32_t> Installed)
{
    if (!Installed || *Installed < 0 || (*Installed == 0 && CountedSizeAt(TargetPath, 1) == 0))
        return std::nullopt;
    return *Installed;
}

TCompleteness JudgeTarget(const std::optional<std::string>& FoundName, std::int64_t FoundSize,
                          std::int32_t InstalledSize, const TListHash& InstalledHash)
{
    using enum TTargetFinding;
    TCompleteness judged{false, false, FoundName ? OtherSize : Missing, FoundName ? FoundSize : -1, {}};
    if ((FoundName ? CountedSize(*FoundName, FoundSize) : -1) != InstalledSize)
        return judged;
    const bool setupFile = FoundName && (TextEquals(*FoundName, "SETUP.INI") || TextEquals(*FoundName, "SETUP.PKG"));
    judged.Finding = setupFile ? SetupFile : !FoundName ? NothingThere
                                         : InstalledHash.Kind == TListHash::TKind::Digest ? ToHash
                                                                                          : SizeOnly;
    judged.Complete = judged.Finding == NothingThere || judged.Finding == SizeOnly;
    judged.Counted = judged.Finding != ToHash;
    return judged;
}

TCompleteness JudgeContent(TCompleteness Sized, const std::optional<TSha256Digest>& Found, const TListHash& Listed)
{
    const bool same = Found && Listed.Kind == TListHash::TKind::Digest && *Found == Listed.Digest;
    Sized.Complete = Sized.Counted = same;
    Sized.Finding = same ? TTargetFinding::SameContent : TTargetFinding::OtherContent;
    return Sized;
}

} // namespace qm
