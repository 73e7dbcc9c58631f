// TDownloadRun: the road of every file of a release set, without a window.
// One run fetches list.txt (and, with a release key, its signature), loads
// the rows, then downloads and places every row that is not complete, in
// list order, and reports one outcome. It owns the rows, the current index,
// the HTTP client HttpCli1 and the decoder LzhD1; the main window owns the
// run, watches it through a TRunObserver and keeps no state of its own.
//
// Nothing half-written ever carries a final name: a download is written to
// TemporaryName(its final name) and renamed only after the status, length
// and hash checks pass; list.txt and list.txt.sig replace the earlier list
// only once verified (with a key) or read (without); unpacking and plain
// copies write to a temporary beside the target and replace it only after
// the installed-size check. A failure, Cancel or kill leaves only
// temporaries, which the next run overwrites and DeleteTemporaries removes.
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
#include "release/ReleaseFiles.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

enum class TRowState : std::uint8_t { Pending, Complete };

// One row: the list line, its target with the placeholders resolved, and
// whether it is complete (the image of its row in the window).
struct TRow {
    TListLine Line;
    std::string TargetPath;
    TRowState State = TRowState::Pending;
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

class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    // The rows have been (re)loaded from a fresh list.
    virtual void ListLoaded(const std::vector<TRow>& Rows) = 0;
    // Row Index is about to be downloaded; Size is its listed download size
    // (1 when that is no number).
    virtual void RowStarted(int Index, std::int32_t Size) = 0;
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

    THttpCli HttpCli1; // ProxyPort "80"; OnDocData, OnStateChange bound to the observer
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
    // disk. A bad line is a LocalError outcome (the rows read so far stay).
    std::optional<TRunOutcome> LoadFileList();
    // Forgets the rows (the window is closing).
    void ReleaseFileList() { rows_.clear(); }
    // Deletes the temporaries a killed or failed run may have left beside
    // the targets of the current rows (those in DownloadDir go with it).
    void DeleteTemporaries() const;

private:
    // ---- DownloadRunFile.cpp ----
    // At most Bytes of a body are taken; past that the download fails
    // with Refusal as its reason.
    struct TByteLimit {
        std::int64_t Bytes;
        std::string Refusal;
    };
    // Fetches URL into the file LocalFileName (created anew). Nothing on
    // success; otherwise the outcome (DownloadFailed, LocalError when the
    // file cannot be created or written, or Closed). With Expected the bytes
    // must have that SHA-256; a file that has not, or could not be written
    // whole, is deleted.
    std::optional<TRunOutcome> DownloadOnce(const std::string& URL, const std::string& LocalFileName,
                                            const TSha256Digest* Expected, const std::optional<TByteLimit>& Limit);
    // Puts the row just downloaded (currentIndex_) in place: written to a
    // temporary beside the target, checked against the listed installed
    // size, then put in place under the target's name. True when it is
    // complete; false leaves it pending (the next run fetches it again).
    bool UnpackCurrentFile();
    // Deletes Temporary and keeps Why (if any) for the run's end; the log
    // gets Why, or LogWhy when the user hears nothing particular. False.
    bool NotPlaced(const std::string& Temporary, const std::string& Why, const std::string& LogWhy = {});

    // ---- DownloadRunRetry.cpp ----
    // DownloadOnce of RemoteName over the sources in rounds (see Sources
    // above). Its outcome: the last try's.
    std::optional<TRunOutcome> DownloadFile(std::string_view RemoteName, const std::string& LocalFileName,
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
    void LogLine(const std::string& Text) { log_.Line(Text); }
    void LogSignature(std::uint64_t Sequence, const std::string& Expires);
    void LogPlacement(bool Placed);
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
    // The lowest sequence DownloadDir accepts: the higher of the kept pair's
    // (when Key verifies it) and the kept sequence file's, or none.
    std::optional<std::uint64_t> KeptSequence(const TPublicKey& Key) const;
    // Writes Sequence to the kept sequence file (a temporary, checked and
    // renamed); nothing, or the LocalError outcome.
    std::optional<TRunOutcome> KeepSequence(std::uint64_t Sequence) const;
    std::string InDownloadDir(std::string_view Name) const;

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
};

} // namespace qm
