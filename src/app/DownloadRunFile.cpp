// TDownloadRun: one file's download with its checks, and putting it in
// place.
#include "app/DownloadRun.h"

#include "app/Extra.h"
#include "base/ExtraStr.h"
#include "release/ListRules.h"
#include "release/Sha256Cng.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <optional>

namespace qm {
namespace {

// Sets the client's RcvdStream for one request and clears it again.
class TReceiveInto {
public:
    TReceiveInto(THttpCli& Client, TStream& Stream) : client_(Client) { client_.RcvdStream = &Stream; }
    ~TReceiveInto() { client_.RcvdStream = nullptr; }
    TReceiveInto(const TReceiveInto&) = delete;
    TReceiveInto& operator=(const TReceiveInto&) = delete;

private:
    THttpCli& client_;
};

// Passes writes on until Limit bytes have been taken; a write past it
// fails (the client then ends the request) and is remembered.
class TLimitedStream final : public TStream {
public:
    TLimitedStream(TStream& Inner, std::optional<std::int64_t> Limit) : inner_(Inner), limit_(Limit) {}
    std::int32_t Read(void*, std::int32_t) override { return -1; }
    std::int32_t Write(const void* Buffer, std::int32_t Count) override
    {
        if (limit_ && written_ + Count > *limit_) {
            exceeded_ = true;
            return 0;
        }
        const std::int32_t n = inner_.Write(Buffer, Count);
        written_ += std::max(n, 0);
        return n;
    }
    std::int64_t Size() const override { return written_; }
    std::int64_t Position() const override { return written_; }
    void Seek(std::int64_t) override { throw EStreamError("A limited stream cannot seek"); }
    bool Exceeded() const { return exceeded_; }

private:
    TStream& inner_;
    std::optional<std::int64_t> limit_;
    std::int64_t written_ = 0;
    bool exceeded_ = false;
};

TRunOutcome Failed(int Status, const std::string& Reason, TRequestFailure Why)
{
    return {TRunOutcome::TKind::DownloadFailed, "Failed : " + std::to_string(Status) + " " + Reason, 0, Why};
}

// Why a request that ended without an exception still failed: no status
// line, a status outside 200-299, or a body whose length is not the
// announced one, or without an announced one shorter than Listed (the
// connection broke).
std::optional<TRunOutcome> ResponseFault(const THttpCli& Client, std::int64_t Stored,
                                         std::optional<std::int64_t> Listed)
{
    const int status = Client.StatusCode();
    // A connection closed before the status line is one cut short (a reset
    // reads as a close under some stacks).
    if (status == 0)
        return Failed(0, "The server sent no status line", TRequestFailure::CutShort);
    if (status < 200 || status > 299)
        return Failed(status, Client.ReasonPhrase(), TRequestFailure::Status);
    if (const auto length = Client.ContentLength(); length && Stored != *length)
        return Failed(status,
                      "Connection broken: " + std::to_string(Stored) + " of " + std::to_string(*length) +
                          " bytes received",
                      Stored < *length ? TRequestFailure::ShortBody : TRequestFailure::Malformed);
    if (!Client.ContentLength() && Listed && Stored < *Listed)
        return Failed(status,
                      "Connection broken: " + std::to_string(Stored) + " of the " + std::to_string(*Listed) +
                          " bytes listed received",
                      TRequestFailure::ShortBody);
    return std::nullopt;
}

// Whether two paths name the same file: the setup program's row usually
// gives its own download as its target.
bool SamePath(const std::string& A, const std::string& B)
{
    const auto full = [](const std::string& Path) {
        char buffer[MAX_PATH * 2];
        const DWORD n = GetFullPathNameA(Path.c_str(), sizeof buffer, buffer, nullptr);
        return n > 0 && n < sizeof buffer ? std::string(buffer, n) : Path;
    };
    return TextEquals(full(A), full(B));
}

std::optional<std::int64_t> FileSize(const std::string& Path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(Path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

// A download whose bytes could not all be written: its temporary goes (it
// would only hold the disk's room), and the message names the file.
TRunOutcome Unwritten(std::optional<TFileStream>& File, const std::string& Temporary, const std::string& Final)
{
    File.reset();
    DeleteFileA(Temporary.c_str());
    return {TRunOutcome::TKind::LocalError, WriteFailureText(Final), 0};
}

// Writes the row's file to Temporary: decoded, or copied from Source. False
// when that failed; Why then says so if the user must hear it (the disk is
// full or cannot be written), LogWhy why the decoder refused it.
bool WriteTemporary(TLzhD& Lzh, const TRow& Row, const std::string& Source, const std::string& Temporary,
                    std::string& Why, std::string& LogWhy)
{
    if (Row.Line.Compressed) {
        try {
            Lzh.InputFile = Source;
            Lzh.OutputFile = Temporary;
            // A header stating more than the list gives is refused at once.
            Lzh.OutputLimit = PlacedSizeLimit(Row.TargetPath, Row.Line.InstalledSize.Value);
            Lzh.Decompress();
            return true;
        } catch (const ELzhWriteError&) {
            Why = WriteFailureText(Row.TargetPath);
        } catch (const Exception& e) {
            LogWhy = e.Message;
        } catch (const std::exception&) {
            // The output that could not be created: no folder, too long a path.
            Why = PathFailureText(GetLastError(), Row.TargetPath).value_or("");
        }
        return false;
    }
    if (CopyFileTo(Source, Temporary, false))
        return true;
    const DWORD error = GetLastError();
    if (IsWriteFailure(error))
        Why = WriteFailureText(Row.TargetPath);
    Why = PathFailureText(error, Row.TargetPath).value_or(Why);
    return false;
}

} // namespace

std::optional<TRunOutcome> TDownloadRun::DownloadOnce(const std::string& URL, const std::string& FinalName,
                                                      const TSha256Digest* Expected,
                                                      const std::optional<TByteLimit>& Limit)
{
    HttpCli1.URL = URL;
    Step(TRunStep::Temporary);
    const std::string temporary = TemporaryFor(FinalName);
    std::optional<TFileStream> file;
    try {
        file.emplace(temporary, TFileStream::Mode::Create);
    } catch (const EStreamError&) {
        return TRunOutcome{TRunOutcome::TKind::LocalError, "Cannot create the file: " + temporary, 0};
    }
    // Hashed only when the list gives a hash: nothing else would read it.
    std::optional<THashingStream> hashing;
    if (Expected)
        hashing.emplace(*file);
    TStream& sink = hashing ? static_cast<TStream&>(*hashing) : *file;
    TLimitedStream limited(sink, Limit ? std::optional<std::int64_t>(Limit->Bytes) : std::nullopt);
    const TReceiveInto receive(HttpCli1, limited);
    try {
        Step(TRunStep::Request);
        HttpCli1.Get();
        Step(TRunStep::Check);
        if (Observer)
            Observer->Progress(HttpCli1.RcvdCount(), true);
    } catch (const EHttpException&) {
        if (closePending_)
            return TRunOutcome{TRunOutcome::TKind::Closed, {}, 0};
        if (limited.Exceeded())
            return Failed(HttpCli1.StatusCode(), Limit->Refusal, TRequestFailure::TooLarge);
        if (file->WriteFailed())
            return Unwritten(file, temporary, FinalName);
        return Failed(HttpCli1.StatusCode(), HttpCli1.ReasonPhrase(), HttpCli1.Failure());
    }
    if (closePending_)
        return TRunOutcome{TRunOutcome::TKind::Closed, {}, 0};
    try {
        file->Close();
    } catch (const EStreamError&) {
        return Unwritten(file, temporary, FinalName);
    }
    const bool listed = Limit && Limit->Listed;
    if (std::optional<TRunOutcome> fault =
            ResponseFault(HttpCli1, limited.Size(), listed ? std::optional(Limit->Bytes) : std::nullopt))
        return fault;
    if (hashing && hashing->Finish() != *Expected) {
        // Known to be wrong: nothing of it is kept.
        DeleteFileA(temporary.c_str());
        return Failed(HttpCli1.StatusCode(),
                      "The file was damaged or altered on its way: its SHA-256 hash is not the one in the file list",
                      TRequestFailure::NotVerified);
    }
    return std::nullopt;
}

bool TDownloadRun::UnpackCurrentFile()
{
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<int>(rows_.size()))
        return false;
    Step(TRunStep::Place);
    TRow& row = rows_[static_cast<std::size_t>(currentIndex_)];
    const std::string source = PathInFolder(DownloadDir, row.Line.RemoteName);
    const std::string& target = row.TargetPath;
    const std::string temporary = TemporaryFor(target);
    // The plain download that is its own target is in place already.
    const bool self = !row.Line.Compressed && SamePath(source, target);
    std::string why, logWhy = "the file could not be written from its download";
    if (!self && !WriteTemporary(LzhD1, row, source, temporary, why, logWhy))
        return NotPlaced(temporary, why, logWhy);
    // Judged by what was written, not by a look-up of the target, which may
    // find an older name of another letter case.
    const std::optional<std::int64_t> size = FileSize(self ? target : temporary);
    if (!size || !PlacedSizeFits(target, *size, row.Line.InstalledSize.Value))
        return NotPlaced(temporary, {},
                         size ? std::to_string(*size) + " bytes written, the list gives " +
                                    row.Line.InstalledSize.Text
                              : "nothing was written");
    if (!self)
        if (std::optional<std::string> refused = ReplaceFileWith(temporary, target))
            return NotPlaced(temporary, *refused);
    row.State = TRowState::Complete;
    if (Observer)
        Observer->RowPlaced(currentIndex_);
    return true;
}

bool TDownloadRun::NotPlaced(const std::string& Temporary, const std::string& Why, const std::string& LogWhy)
{
    DeleteFileA(Temporary.c_str());
    notPlaced_ = Why.empty() ? LogWhy : Why;
    if (notPlacedWhy_.empty())
        notPlacedWhy_ = Why;
    return false;
}

} // namespace qm
