// TDownloadRun: the road of every file of a release set, without a window.
// One run fetches list.txt (and, with a release key, its signature), loads
// the rows, then downloads and places every row that is not complete, in
// list order, and reports one outcome. It owns the rows, the current index,
// the HTTP client HttpCli1 and the decoder LzhD1; the main window owns the
// run, watches it through a TRunObserver and keeps no state of its own.
//
// Nothing half-written ever carries a final name: a download is written to
// a temporary (TemporaryFor its final name) and renamed only after the
// status, length and hash checks pass; list.txt and list.txt.sig replace the
// earlier list only once verified (with a key) or read (without); unpacking
// and plain copies write to a temporary and replace the target only after
// the installed-size check. A failure, Cancel or kill leaves only
// temporaries, which the next run overwrites and DeleteTemporaries removes.
//
// The temporaries lie in UnfinishedFolderName inside DownloadDir, a folder
// that stays small: creating a name in a folder of thousands of files reads
// the whole folder on some file systems, and the download directory holds
// every download and usually the targets too. A temporary whose path there
// would be too long lies beside its final name, as does every temporary
// when that folder cannot be made; a target on another volume gets its bytes
// carried beside it (ReplaceFileWith). Execute removes the folder at its end
// when nothing is left in it.
//
// Call order: set DownloadDir, SystemDir (and the observer) once, then
// Execute() for each press of Start; Cancel() and Close() may be called
// from any handler while Execute() waits in Get or Decompress (they only
// abort the transfer and set flags, which Execute() looks at between steps).
// Execute() must not be entered again while it runs (the window keeps Start
// disabled). Everything runs on the GUI thread; the client's and decoder's
// waits dispatch the thread's messages, so the observer's calls and the
// window's handlers may run inside Execute().
//
// Errors: Execute() raises nothing for a failed download, a bad list or a
// file that cannot be written: each is an outcome. Exceptions thrown by the
// observer pass through.
//
// Sources: the server base URL, then the built-in Mirrors in order, then
// (with a release key) the mirrors the verified signature names. Every
// request (list.txt, its signature from the built-in ones only, every file)
// is tried at the source that delivered the run's last request first, and
// handed to the next source at once when it fails there; a round is one try
// at every source (TSourceRounds, HttpRetry.h). Only a failure that may pass
// makes another round, after Retry's delays or the server's Retry-After, up
// to Retry.Attempts rounds. While the run waits, the status word says so,
// the window's messages are dispatched and Cancel or Close end the wait at
// once. Only the last try's failure becomes the outcome. A list that is
// refused (not verified, older, expired) ends the run: no source is asked
// for another.
//
// Log: with LogFile set, every run appends its events to it (RunLog.h).
//
// Checking: a row whose line carries an installed hash (field 7) and whose
// target has the listed size is complete only once the target's bytes have
// that SHA-256. LoadFileList reads each such target once, in large blocks,
// with the status word "Checking" and the bytes checked as progress; the
// window's messages are dispatched meanwhile, and Cancel or Close end the
// check (and the run) as they end a transfer.
//
// Floor: with a release key, the highest sequence verified is kept in
// SequenceFile (beside the log, outside the download directory, so that
// deleting the downloads keeps it) and MinSequence is the lowest any list
// may have, even where nothing was kept.
//
// Files: DownloadRun.cpp (Execute, the list, the loop, Cancel, Close),
// DownloadRunFile.cpp (one try of a download and its checks,
// UnpackCurrentFile), DownloadRunRetry.cpp (DownloadFile: the tries and the
// waits between them), DownloadRunList.cpp (the list's fetch, signature and
// loading), DownloadRunLog.cpp (what the run writes to its log).
#pragma once

#include "app/RunLog.h"
#include "http/HttpProt.h"
#include "http/HttpRetry.h"
#include "lzh/LzhD.h"
#include "release/ListLine.h"
#include "release/ListRules.h"
#include "release/ReleaseFiles.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// The folder of the run's temporaries, inside DownloadDir. It ends in
// TemporarySuffix, so no list can name it or a file within it.
inline constexpr std::string_view UnfinishedFolderName = "unfinished.qm-part";

enum class TRowState : std::uint8_t { Pending, Complete };

// One row: the list line, its target with the placeholders resolved,
// whether it is complete (the image of its row in the window), and what
// loading found at its target.
struct TRow {
    TListLine Line;
    std::string TargetPath;
    TRowState State = TRowState::Pending;
    TCompleteness Found;
};

// How a run ended, and what the window says about it.
struct TRunOutcome {
    enum class TKind : std::uint8_t {
        Finished,       // every row in place: "Transfer finished."
        NotPlaced,      // Missing rows could not be put in place; Message
                        // says why when a disk was full or a file in use
        Cancelled,      // Cancel was pressed: "Transfer terminated."
        EmptyList,      // list.txt holds no line: idle, no message
        DownloadFailed, // Message is "Failed : " + status + " " + reason
        LocalError,     // Message names what failed (a bad list, a file)
        Closed,         // the window was closed meanwhile: nothing is shown
    };
    TKind Kind = TKind::Finished;
    std::string Message;
    int Missing = 0;
    // Why the download failed (DownloadFailed only).
    TRequestFailure Failure = TRequestFailure::None;
};

// The steps of a row, told as each begins (TDownloadRun::OnStep) to a
// benchmark's clock; the client's states and the observer's calls divide
// the rest.
enum class TRunStep : std::uint8_t {
    Temporary, // the download's temporary is created
    Request,   // the request is made
    Check,     // the temporary is closed and its length and hash checked
    Rename,    // the checked download takes its name
    Place,     // the target is written and put in place
    Log,       // a line goes to the log
};

class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    // The rows have been (re)loaded from a fresh list.
    virtual void ListLoaded(const std::vector<TRow>& Rows) = 0;
    // Row Index is about to be downloaded; Size is its listed download size
    // (1 when that is no number).
    virtual void RowStarted(int Index, std::int32_t Size) = 0;
    // The targets found with their listed size are about to be hashed:
    // Bytes in all; Progress then counts the bytes checked.
    virtual void CheckStarted(std::int64_t Bytes) = 0;
    // Bytes of the current request have arrived: after each chunk, and
    // once more with Final when the request has ended.
    virtual void Progress(std::int64_t Bytes, bool Final) = 0;
    // The client's state changed; Text is the status word, or empty when
    // the state has none.
    virtual void StatusWord(const std::string& Text) = 0;
    // Row Index is complete.
    virtual void RowPlaced(int Index) = 0;
    // The decoder asks for pending messages to be handled between blocks.
    virtual void ProcessMessages() = 0;
};

class TDownloadRun {
public:
    // ServerBaseURL gives the base URL anew for each request (it is kept
    // scrambled); ReleasePublicKey is the key file's text, or empty.
    TDownloadRun(std::function<std::string()> ServerBaseURL, std::string ReleasePublicKey);
    TDownloadRun(const TDownloadRun&) = delete;
    TDownloadRun& operator=(const TDownloadRun&) = delete;

    THttpCli HttpCli1; // ProxyPort "80", addresses kept for a run; OnDocData, OnStateChange bound to the observer
    TLzhD LzhD1;       // OnProcessMessages bound to the observer

    std::string DownloadDir; // current directory at start + "\veldratp"
    std::string SystemDir;   // Windows directory + "\system"
    TRunObserver* Observer = nullptr;
    // How many rounds over the sources a passing failure gets, and the waits
    // between them.
    TRetryPolicy Retry;
    // The built-in mirrors' base URLs, each given anew for each request (they
    // are kept scrambled); tried after the server base URL, in this order.
    std::vector<std::function<std::string()>> Mirrors;
    // The log's path (the start folder + "\QMLoader.log"); empty: no log.
    std::string LogFile;
    // Told of each step of a row as it begins; nothing in the program listens.
    std::function<void(TRunStep)> OnStep;
    // Where the highest verified sequence is kept (the start folder +
    // "\QMLoader.seq"); empty: none is kept. The download directory's
    // list.txt.seq of earlier versions is read once and then removed.
    std::string SequenceFile;
    // The lowest sequence a signed list may have (QM_MIN_SEQUENCE); 0: none.
    std::uint64_t MinSequence = 0;

    // What the last check at loading did: targets hashed, their bytes, and
    // its time on the clock.
    struct TCheckFigures {
        int Files = 0;
        std::int64_t Bytes = 0;
        double Seconds = 0;
    };
    TCheckFigures LastCheck;

    // One download run, from list.txt to the last row.
    TRunOutcome Execute();
    // Ends the transfer in progress; the run ends at its next step with
    // Cancelled (or with the failed download's outcome if Get was waiting).
    void Cancel();
    // As Cancel, and the run then ends at once with Closed.
    void Close();

    const std::vector<TRow>& FileList() const { return rows_; }
    int CurrentIndex() const { return currentIndex_; }
    // Rows found complete when the list was loaded, over every run.
    std::int32_t CompleteAtLoad = 0;
    bool CancelRequested() const { return cancelRequested_; }

    // Reads list.txt in DownloadDir into the rows, judging each target on
    // disk (and checking the hashes, which dispatches messages). A bad line
    // is a LocalError outcome (the rows read so far stay); Cancel or Close
    // during the check give Cancelled or Closed.
    std::optional<TRunOutcome> LoadFileList();
    // Forgets the rows (the window is closing).
    void ReleaseFileList() { rows_.clear(); }
    // Deletes the temporaries a killed or failed run may have left: the
    // folder UnfinishedFolderName with its files, and those beside the
    // targets of the current rows (those in DownloadDir go with it).
    void DeleteTemporaries() const;

private:
    // ---- DownloadRunFile.cpp ----
    // At most Bytes of a body are taken; past that the download fails
    // with Refusal as its reason.
    // With Listed, Bytes is what the list gives: a body without a
    // Content-Length that ends before it is cut short.
    struct TByteLimit {
        std::int64_t Bytes;
        std::string Refusal;
        bool Listed = false;
    };
    // Fetches URL into TemporaryFor(FinalName) (created anew); the caller
    // renames it. Nothing on success; otherwise the outcome (DownloadFailed,
    // LocalError when the file cannot be created or written, or Closed).
    // With Expected the bytes must have that SHA-256; a temporary that has
    // not, or could not be written whole, is deleted.
    std::optional<TRunOutcome> DownloadOnce(const std::string& URL, const std::string& FinalName,
                                            const TSha256Digest* Expected, const std::optional<TByteLimit>& Limit);
    // Puts the row just downloaded (currentIndex_) in place: written to
    // TemporaryFor(the target), checked against the listed installed
    // size, then put in place under the target's name. True when it is
    // complete; false leaves it pending (the next run fetches it again).
    bool UnpackCurrentFile();
    // The temporary for the file Final: in the unfinished folder when there
    // is one and the path fits MaxPathLength, else TemporaryName(Final).
    std::string TemporaryFor(const std::string& Final) const;
    // Makes the unfinished folder for this run, or forgets it when it
    // cannot be made.
    void OpenUnfinishedFolder();
    // Deletes Temporary and keeps Why (if any) for the run's end; the log
    // gets Why, or LogWhy when the user hears nothing particular. False.
    bool NotPlaced(const std::string& Temporary, const std::string& Why, const std::string& LogWhy = {});

    // ---- DownloadRunRetry.cpp ----
    // DownloadOnce of RemoteName over the sources in rounds (see Sources
    // above). Its outcome: the last try's.
    std::optional<TRunOutcome> DownloadFile(std::string_view RemoteName, const std::string& FinalName,
                                            const TSha256Digest* Expected, const std::optional<TByteLimit>& Limit);
    // Waits Delay before round Failed + 1, dispatching messages. Closed or
    // the aborted download's outcome when Close or Cancel came meanwhile.
    std::optional<TRunOutcome> WaitBeforeRetry(std::chrono::milliseconds Delay, int Failed);
    // The run's sources anew: the server and the built-in mirrors; the
    // server is tried first.
    void ResetSources();
    // Adds the mirrors of a verified signature after the others (each once).
    void AddSignedMirrors(const std::vector<std::string>& BaseURLs);
    // The one place that forms a request's URL: a source's base URL and a
    // remote name.
    std::string SourceURL(int Source, std::string_view RemoteName) const;

    // ---- DownloadRunLog.cpp ----
    void LogRunStart();
    void LogRequest(const std::string& URL, const std::optional<TRunOutcome>& Failed, bool Hashed, double Seconds);
    void LogRetry(const TRunOutcome& Failed, int Attempt, std::chrono::milliseconds Delay);
    void LogSourceChange(const TRunOutcome& Failed, int From, int To);
    void LogSignedMirrors(const std::vector<std::string>& BaseURLs);
    void LogList(std::size_t Bytes);
    void LogLine(const std::string& Text)
    {
        Step(TRunStep::Log);
        log_.Line(Text);
    }
    void LogSignature(std::uint64_t Sequence, const std::string& Expires);
    void LogPlacement(bool Placed);
    void LogFindings();
    void LogOutcome(const TRunOutcome& Outcome);

    // ---- DownloadRunList.cpp ----
    // Fetches list.txt (and its signature) to temporaries, verifies them,
    // and puts them in place of the earlier list.
    std::optional<TRunOutcome> FetchFileList();
    // With a release key: the signature must verify, must not have expired,
    // and its sequence must not be lower than that of the list kept from an
    // earlier run (so an older signed list cannot be replayed).
    // Sequence is the verified signature's.
    std::optional<TRunOutcome> VerifyFileList(const std::string& ListFile, const std::string& SignatureFile,
                                              std::uint64_t& Sequence);
    // The lowest sequence DownloadDir accepts: the highest of the kept
    // pair's (when Key verifies it), KeptFloor and MinSequence, or none.
    std::optional<std::uint64_t> KeptSequence(const TPublicKey& Key) const;
    // The kept sequence files' floor: SequenceFile's and the download
    // directory's list.txt.seq of earlier versions, the higher; none kept: 0.
    std::uint64_t KeptFloor() const;
    // Writes Sequence to the kept sequence file (a temporary, checked and
    // renamed); nothing, or the LocalError outcome.
    std::optional<TRunOutcome> KeepSequence(std::uint64_t Sequence) const;
    std::string InDownloadDir(std::string_view Name) const;

    // ---- DownloadRunCheck.cpp ----
    // Hashes every ToHash row's target and judges it by its content.
    std::optional<TRunOutcome> CheckTargets();
    // The SHA-256 of the file at Path, read in Buffer's blocks; Done counts
    // the bytes read. None when it cannot be read, or when Cancel or Close
    // came meanwhile.
    std::optional<TSha256Digest> HashTarget(const std::string& Path, std::vector<char>& Buffer, std::int64_t& Done);

    // ---- DownloadRun.cpp ----
    // The status word of HttpCli1's state: "Looking " + the server's host,
    // "Connected", "Transferred:", or none.
    void HttpCli1StateChange();
    TRunOutcome RunSteps();
    std::optional<TRunOutcome> DownloadRows();
    std::optional<TRunOutcome> DownloadRow();
    TRunOutcome EndOfRun() const;
    std::optional<TRunOutcome> Stopped() const;
    int NextIncomplete(int From) const;
    void Step(TRunStep S) const
    {
        if (OnStep)
            OnStep(S);
    }

    std::function<std::string()> serverBaseURL_;
    std::string releasePublicKey_;
    std::vector<std::function<std::string()>> sources_; // see Sources above
    int builtInSources_ = 1; // the first of sources_ that are not signed ones
    int preferred_ = 0;      // the source that delivered the last request
    std::vector<TRow> rows_;
    int currentIndex_ = 0;
    bool cancelRequested_ = false;
    bool closePending_ = false;
    std::string notPlacedWhy_; // the first row's reason the user must hear
    TRunLog log_;
    std::string notPlaced_; // why UnpackCurrentFile left its row pending
    std::string unfinished_; // the unfinished folder of this run; empty: none
};

} // namespace qm
