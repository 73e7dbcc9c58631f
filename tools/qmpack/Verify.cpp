#include "Verify.h"

#include "Crypto.h"
#include "PackRules.h"
#include "base/Stream.h"
#include "lzh/LzhD.h"
#include "release/ListRules.h"
#include "release/Sha256.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace qm::pack {
namespace fs = std::filesystem;
namespace {

// The installed size the compressed file decodes to, the size its header
// states, and the SHA-256 of the decoded bytes (when the line lists one); a
// decoding error is a problem of the file too.
std::optional<std::string> CheckCompressed(const fs::path& File, std::string_view Target, std::int64_t Installed,
                                           const TListHash& InstalledHash)
{
    TFileStream in(File.string(), TFileStream::Mode::OpenRead);
    TCountingStream counted;
    THashingStream out(counted);
    TLzhD lzh;
    lzh.UseStream = true;
    lzh.InputStream = &in;
    lzh.OutputStream = &out;
    try {
        lzh.Decompress();
    } catch (const std::exception& e) {
        return "compressed file " + File.filename().string() + " cannot be decoded: " + e.what();
    }
    if (lzh.UncompressedSize() != out.Size() || CountedSizeAt(Target, out.Size()) != Installed)
        return "compressed file " + File.filename().string() + " decodes to " + std::to_string(out.Size()) +
               " bytes (header says " + std::to_string(lzh.UncompressedSize()) + "), listed installed size " +
               std::to_string(Installed);
    if (InstalledHash.Kind == TListHash::TKind::Digest && out.Finish() != InstalledHash.Digest)
        return "compressed file " + File.filename().string() + " decodes to bytes without the listed installed SHA-256";
    return std::nullopt;
}

// Field 7 of a plain file: the SHA-256 of the file itself.
std::optional<std::string> CheckPlainHash(const fs::path& File, const TListHash& InstalledHash)
{
    if (InstalledHash.Kind == TListHash::TKind::Digest && FileSha256(File) != InstalledHash.Digest)
        return "plain file " + File.filename().string() + " does not have the listed installed SHA-256";
    return std::nullopt;
}

// The first problem of one list line, given the remote names of all lines.
std::optional<std::string> CheckLine(const fs::path& Dir, const std::vector<std::string>& F,
                                     const std::vector<std::string>& Remotes)
{
    if (F.size() < 5)
        return "expected at least 5 TAB-separated fields, found " + std::to_string(F.size());
    const std::optional<std::int64_t> download = SizeValue(F[1]);
    const std::optional<std::int64_t> installed = SizeValue(F[2]);
    if (!download || !installed)
        return "download size \"" + F[1] + "\" and installed size \"" + F[2] + "\" must be decimal numbers";
    if (auto bad = CheckRemoteName(F[3]))
        return bad;
    if (auto bad = qm::CheckListedTargetPath(F[4]))
        return bad;
    if (auto bad = CheckTargetAgainst(F[4], Remotes))
        return bad;
    const fs::path file = Dir / F[3];
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return "file " + F[3] + " is missing";
    if (const auto size = static_cast<std::int64_t>(fs::file_size(file, ec)); size != *download)
        return "file " + F[3] + " has " + std::to_string(size) + " bytes, listed download size " + F[1];
    const TListHash installedHash = ReadHashField(F.size() > ListInstalledHashField ? F[ListInstalledHashField] : "");
    if (installedHash.Kind == TListHash::TKind::Malformed)
        return "the installed SHA-256 hash \"" + installedHash.Text + "\" is not 64 hex digits";
    if (F.size() > 5 && F[5] == "yes")
        return CheckCompressed(file, F[4], *installed, installedHash);
    if (CountedSizeAt(F[4], *download) != *installed)
        return "plain file " + F[3] + ": download size " + F[1] + " differs from installed size " + F[2];
    return CheckPlainHash(file, installedHash);
}

} // namespace

TVerifyReport VerifyReleaseSet(const fs::path& Dir)
{
    TVerifyReport report;
    std::ifstream in(Dir / "list.txt", std::ios::binary);
    if (!in) {
        report.Problems.push_back((Dir / "list.txt").string() + ": cannot be read");
        return report;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const std::vector<std::string> lines = SplitListText(text.str());
    report.Lines = static_cast<int>(lines.size());
    std::vector<std::vector<std::string>> fields;
    std::vector<std::string> remotes;
    for (const std::string& line : lines) {
        fields.push_back(SplitFields(line));
        remotes.push_back(fields.back().size() > 3 ? fields.back()[3] : "");
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string where = "list.txt:" + std::to_string(i + 1) + ": ";
        if (const auto j = EarlierDuplicate(remotes, i))
            report.Problems.push_back(where + "remote name \"" + remotes[i] + "\" is already used on line " +
                                      std::to_string(*j + 1));
        if (auto bad = CheckLine(Dir, fields[i], remotes))
            report.Problems.push_back(where + *bad);
    }
    if (lines.empty())
        report.Problems.push_back("list.txt: the list is empty");
    return report;
}

} // namespace qm::pack
