// TDownloadRun: list.txt and its signature, fetched to temporaries,
// verified, put in place of the earlier list, and loaded into the rows.
#include "app/DownloadRun.h"

#include "base/Stream.h"
#include "release/ListRules.h"
#include "release/ReleaseFiles.h"
#include "release/SignatureCng.h"

#include <windows.h>

#include <algorithm>
#include <ctime>

namespace qm {
namespace {

constexpr std::string_view ListFileName = "list.txt";
constexpr const char* NotVerified = "The file list could not be verified: ";
// No real list comes near these; a larger answer is refused before it
// fills the disk or the memory.
constexpr std::int64_t ListFileLimit = 16 * 1024 * 1024;
constexpr std::int64_t SignatureFileLimit = 32 * 1024; // 8 mirrors of 2 KiB fit

// The whole file at Path, of at most Limit bytes.
std::string ReadSmallFile(const std::string& Path, std::int64_t Limit)
{
    TFileStream file(Path, TFileStream::Mode::OpenRead);
    std::string bytes;
    char buffer[65536];
    std::int32_t n = 0;
    while ((n = file.Read(buffer, sizeof buffer)) > 0 && static_cast<std::int64_t>(bytes.size()) <= Limit)
        bytes.append(buffer, static_cast<std::size_t>(n));
    if (n < 0)
        throw EStreamError("Cannot read the file: " + Path);
    if (static_cast<std::int64_t>(bytes.size()) > Limit)
        throw EStreamError("The file is larger than " + std::to_string(Limit) + " bytes: " + Path);
    return bytes;
}

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS UTC".
std::string UtcText(std::int64_t Seconds)
{
    const auto time = static_cast<std::time_t>(Seconds);
    std::tm parts{};
    if (gmtime_s(&parts, &time) != 0)
        return std::to_string(Seconds) + " seconds";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

TRunOutcome LocalError(std::string Message)
{
    return {TRunOutcome::TKind::LocalError, std::move(Message), 0};
}

// The hashes a line must carry: a malformed one is a bad line, and with a
// release key every line needs that of its file.
std::optional<TRunOutcome> CheckLineHash(const TListLine& Line, int LineNumber, bool Signed)
{
    for (const auto& [hash, what] : {std::pair{&Line.Sha256, "SHA-256 hash"},
                                     std::pair{&Line.InstalledSha256, "installed SHA-256 hash"}})
        if (hash->Kind == TListHash::TKind::Malformed)
            return LocalError("The " + std::string(what) + " in line " + std::to_string(LineNumber) +
                              " of the file list is not 64 hex digits: \"" + hash->Text + "\"");
    if (Line.Sha256.Kind == TListHash::TKind::Absent && Signed)
        return LocalError(NotVerified + std::string("line ") + std::to_string(LineNumber) +
                          " carries no SHA-256 hash of its file.");
    return std::nullopt;
}

bool Replace(const std::string& Temporary, const std::string& Final)
{
    return MoveFileExA(Temporary.c_str(), Final.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

} // namespace

std::optional<TRunOutcome> TDownloadRun::FetchFileList()
{
    const std::string list = DownloadDir + "\\" + std::string(ListFileName);
    const std::string signature = DownloadDir + "\\" + std::string(SignatureFileName);
    if (std::optional<TRunOutcome> failed =
            DownloadFile(ListFileName, list, nullptr,
                         TByteLimit{ListFileLimit, "The file list is larger than 16 MiB"}))
        return failed;
    if (!releasePublicKey_.empty()) {
        if (std::optional<TRunOutcome> failed =
                DownloadFile(SignatureFileName, signature, nullptr,
                             TByteLimit{SignatureFileLimit, "The signature of the file list is larger than 32 KiB"})) {
            if (failed->Kind != TRunOutcome::TKind::DownloadFailed || cancelRequested_)
                return failed;
            return LocalError(NotVerified + std::string(SignatureFileName) + " could not be fetched: " +
                              failed->Message);
        }
        std::uint64_t sequence = 0;
        if (std::optional<TRunOutcome> bad = VerifyFileList(TemporaryFor(list), TemporaryFor(signature), sequence))
            return bad;
        // The floor is raised before the pair is replaced: a kill between
        // the two renames leaves a pair that does not verify, and the next
        // run then holds to this file.
        if (std::optional<TRunOutcome> bad = KeepSequence(sequence))
            return bad;
        if (!Replace(TemporaryFor(signature), signature))
            return LocalError("Cannot write the file: " + signature);
    }
    if (!Replace(TemporaryFor(list), list))
        return LocalError("Cannot write the file: " + list);
    return std::nullopt;
}

std::optional<TRunOutcome> TDownloadRun::VerifyFileList(const std::string& ListFile, const std::string& SignatureFile,
                                                        std::uint64_t& Sequence)
{
    try {
        const TPublicKey key = ReadPublicKey(releasePublicKey_);
        const TListSignature signature = ReadListSignature(ReadSmallFile(SignatureFile, SignatureFileLimit));
        if (!VerifyReleaseSignature(key, SignedListData(ReadSmallFile(ListFile, ListFileLimit), signature.Sequence,
                                                        signature.Expires, signature.Mirrors),
                                    signature.Signature))
            throw EReleaseFileError("its signature does not match it (altered, or signed with another key)");
        if (signature.Expires && std::time(nullptr) >= *signature.Expires)
            throw EReleaseFileError("its signature has expired (it was valid until " + UtcText(*signature.Expires) +
                                    "); an old list may be replayed by someone on the way");
        if (const std::optional<std::uint64_t> kept = KeptSequence(key); kept && signature.Sequence < *kept)
            throw EReleaseFileError("it is older than the list verified here before (sequence " +
                                    std::to_string(signature.Sequence) + " against " + std::to_string(*kept) +
                                    "); an old list may be replayed by someone on the way");
        Sequence = signature.Sequence;
        LogSignature(signature.Sequence, signature.Expires ? UtcText(*signature.Expires) : "never");
        LogSignedMirrors(signature.Mirrors);
        AddSignedMirrors(signature.Mirrors);
    } catch (const EReleaseFileError& e) {
        return LocalError(NotVerified + e.Message + ".");
    } catch (const EStreamError& e) {
        return LocalError(NotVerified + e.Message);
    }
    return std::nullopt;
}

std::uint64_t TDownloadRun::KeptFloor() const
{
    std::uint64_t floor = 0;
    for (const std::string& path : {SequenceFile, InDownloadDir(SequenceFileName)}) {
        try {
            if (!path.empty())
                floor = std::max(floor, ReadKeptSequence(ReadSmallFile(path, SignatureFileLimit)));
        } catch (const Exception&) {
            // None kept there (a first run, or a folder of an earlier version).
        }
    }
    return floor;
}

std::optional<std::uint64_t> TDownloadRun::KeptSequence(const TPublicKey& Key) const
{
    std::optional<std::uint64_t> floor;
    if (const std::uint64_t kept = std::max(KeptFloor(), MinSequence); kept > 0)
        floor = kept;
    try {
        const TListSignature kept =
            ReadListSignature(ReadSmallFile(InDownloadDir(SignatureFileName), SignatureFileLimit));
        const std::string list = ReadSmallFile(InDownloadDir(ListFileName), ListFileLimit);
        if (VerifyReleaseSignature(Key, SignedListData(list, kept.Sequence, kept.Expires, kept.Mirrors), kept.Signature))
            return std::max(kept.Sequence, floor.value_or(0));
    } catch (const Exception&) {
        // None kept, or not one this key signed: the floor alone.
    }
    return floor;
}

std::optional<TRunOutcome> TDownloadRun::KeepSequence(std::uint64_t Sequence) const
{
    if (SequenceFile.empty())
        return std::nullopt;
    const std::string& path = SequenceFile;
    try {
        const std::string text = FormatKeptSequence(std::max(Sequence, KeptFloor()));
        TFileStream file(TemporaryName(path), TFileStream::Mode::Create);
        file.Write(text.data(), static_cast<std::int32_t>(text.size()));
        file.Close();
    } catch (const Exception&) {
        DeleteFileA(TemporaryName(path).c_str());
        return LocalError(WriteFailureText(path));
    }
    if (!Replace(TemporaryName(path), path))
        return LocalError("Cannot write the file: " + path);
    DeleteFileA(InDownloadDir(SequenceFileName).c_str()); // read once: its floor is in SequenceFile now
    return std::nullopt;
}

std::string TDownloadRun::InDownloadDir(std::string_view Name) const
{
    return DownloadDir + "\\" + std::string(Name);
}

std::optional<TRunOutcome> TDownloadRun::LoadFileList()
{
    const std::string path = DownloadDir + "\\" + std::string(ListFileName);
    std::string text;
    try {
        text = ReadSmallFile(path, ListFileLimit);
    } catch (const EStreamError&) {
        return LocalError("Cannot read the file list: " + path);
    }
    rows_.clear();
    std::optional<TRunOutcome> bad;
    // The files no target may overwrite.
    const std::vector<std::string> kept{path, InDownloadDir(SignatureFileName), InDownloadDir(SequenceFileName), LogFile,
                                        SequenceFile};
    for (const std::string& text_line : SplitListText(text)) {
        TRow row{ParseListLine(text_line), {}, TRowState::Pending, {}};
        row.TargetPath = ResolveTargetPath(row.Line.TargetPath, SystemDir, DownloadDir);
        const int number = static_cast<int>(rows_.size()) + 1;
        std::optional<std::string> problem = CheckListLine(row.Line, row.TargetPath, number);
        if (!problem)
            problem = CheckLinePlace(row.Line, row.TargetPath, DownloadDir, kept, number);
        if (problem) {
            bad = LocalError(*problem);
            rows_.push_back(std::move(row)); // shown, as far as it was read
            break;
        }
        if ((bad = CheckLineHash(row.Line, number, !releasePublicKey_.empty()))) {
            rows_.push_back(std::move(row));
            break;
        }
        row.Found = JudgeTargetOnDisk(row.TargetPath, *row.Line.InstalledSize.Value, row.Line.InstalledSha256);
        row.State = row.Found.Complete ? TRowState::Complete : TRowState::Pending;
        CompleteAtLoad += row.Found.Counted ? 1 : 0;
        rows_.push_back(std::move(row));
    }
    if (Observer)
        Observer->ListLoaded(rows_);
    const bool judged = !bad; // a bad line stops the loading: none of its rows is acted on
    if (judged)
        bad = CheckTargets();
    LogList(text.size());
    if (judged)
        LogFindings();
    return bad;
}

} // namespace qm
