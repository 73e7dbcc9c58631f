#include "Pack.h"

#include "Crypto.h"
#include "TextFile.h"

#include "base/Exception.h"
#include "lzh/LzhD.h"
#include "release/ListRules.h"

#include <fstream>
#include <limits>
#include <sstream>

namespace qm::pack {
namespace fs = std::filesystem;
namespace {

// The problems of one entry's source: missing, not a file, too large, or the
// very file the set would write.
std::string SourceProblem(const fs::path& Source, const fs::path& Output)
{
    std::error_code ec;
    if (!fs::is_regular_file(Source, ec))
        return "source file not found: " + Source.string();
    if (fs::file_size(Source, ec) > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max()))
        return "source file is 2 GiB or larger: " + Source.string();
    if (fs::equivalent(Source, Output, ec))
        return "source file " + Source.string() + " would be overwritten by the set's own file";
    return {};
}

TListLine PackOne(const TManifestEntry& Entry, const fs::path& Source, const fs::path& Output)
{
    TListLine line;
    line.DisplayName = Entry.DisplayName;
    line.RemoteName = Entry.RemoteName;
    line.TargetPath = Entry.TargetPath;
    line.Compressed = Entry.Compressed;
    // What the loader's completeness rule will see once the file is placed
    // ("vcl30.dpl" counts as 0), so that the placed file is judged complete.
    const auto installed = static_cast<std::int32_t>(fs::file_size(Source));
    line.InstalledSize = TListSize::Of(static_cast<std::int32_t>(CountedSizeAt(Entry.TargetPath, installed)));
    if (Entry.Compressed) {
        TLzhD lzh;
        lzh.InputFile = Source.string();
        lzh.OutputFile = Output.string();
        lzh.Compress();
    } else {
        // overwrite_existing fails with "File exists" in the mingw runtime; an
        // explicit remove first works everywhere.
        fs::remove(Output);
        fs::copy_file(Source, Output);
    }
    line.DownloadSize = TListSize::Of(static_cast<std::int32_t>(fs::file_size(Output)));
    line.Sha256 = ReadHashField(HexText(FileSha256(Output))); // the SHA-256 the loader checks
    // The placed bytes' SHA-256, by which the loader knows a target in place;
    // none for a "vcl30.dpl" listed 0, of which any copy counts.
    if (CountedSizeAt(Entry.TargetPath, 1) != 0)
        line.InstalledSha256 =
            Entry.Compressed ? ReadHashField(HexText(FileSha256(Source))) : ReadHashField(line.Sha256.Text);
    return line;
}

} // namespace

std::string FormatListText(const std::vector<TListLine>& Lines)
{
    std::string text;
    for (const TListLine& line : Lines)
        text += FormatListLine(line) + "\r\n";
    return text;
}

TPackResult PackReleaseSet(const fs::path& ManifestPath, const fs::path& OutDir)
{
    const TManifest manifest = ParseManifest(ReadText(ManifestPath), ManifestPath.string());
    TPackResult result;
    result.Errors = manifest.Errors;
    if (manifest.Entries.empty() && manifest.Errors.empty())
        result.Errors.push_back(ManifestPath.string() + ": the manifest lists no files");
    const fs::path base = ManifestPath.parent_path();
    std::vector<fs::path> sources;
    for (const TManifestEntry& e : manifest.Entries) {
        sources.push_back(base / e.Source);
        if (std::string bad = SourceProblem(sources.back(), OutDir / e.RemoteName); !bad.empty())
            result.Errors.push_back(ManifestPath.string() + ":" + std::to_string(e.Line) + ": " + bad);
    }
    if (!result.Errors.empty())
        return result;

    fs::create_directories(OutDir);
    for (std::size_t i = 0; i < manifest.Entries.size(); ++i)
        result.Lines.push_back(PackOne(manifest.Entries[i], sources[i], OutDir / manifest.Entries[i].RemoteName));
    // A name no manifest can give a file (the loader's unfinished-file ending).
    const fs::path temporary = OutDir / qm::TemporaryName("list.txt");
    WriteText(temporary, FormatListText(result.Lines));
    fs::rename(temporary, OutDir / "list.txt");
    return result;
}

} // namespace qm::pack
