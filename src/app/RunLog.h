// TRunLog: the download log, QMLoader.log, that support reads when a user
// says "it failed". One line per event, UTC time first; appended by every
// run. Whenever the file passes MaxSize bytes (when it is opened, or while a
// run writes) it is cut to its last KeepSize bytes, from the first whole line.
//
// Call order: Open(Path) at the start of a run, Line(...) for each event,
// Close() at its end (or let the object go). Line() before Open, or after an
// Open that failed, writes nothing.
//
// Errors: none. A log that cannot be opened, cut or written is given up
// silently: it must never stop a run. The file is opened for appending only
// and lines go to it whole, several in one write at most, so two programs
// logging into one folder never split each other's lines. Lines wait in
// this object, not one write each: a line FlushMs or more after the last
// flush flushes, FlushIfDue() does when lines have waited that long (the run
// asks at every chunk of a download), Flush() does at once (the run calls it
// before it waits and after a failure) and Close() does. A killed program
// loses at most the lines of its last FlushMs, or those written before a
// transfer that then received nothing until the kill.
//
// What a line holds is cleaned (CleanLogText, RunLogText.h): no control
// character reaches the file. Nothing secret may be written: callers pass
// URLs through SafeURL, texts from the network through NetText, and never
// pass credentials otherwise.
#pragma once

#include "app/RunLogText.h"

#include <cstdint>
#include <string>

namespace qm {

class TRunLog {
public:
    static constexpr std::int64_t MaxSize = 1024 * 1024;
    static constexpr std::int64_t KeepSize = MaxSize / 2;
    static constexpr const char* FileName = "QMLoader.log";

    TRunLog() = default;
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;
    ~TRunLog() { Close(); }

    void Open(const std::string& Path);
    void Close();
    // "2026-12-07 23:41:05.120Z " + CleanLogText(Text).
    void Line(const std::string& Text);
    // Writes out the lines still in the buffer.
    void Flush();
    void FlushIfDue();
    static constexpr std::uint64_t FlushMs = 1000;

private:
    bool Reopen();
    void CloseFile();
    void Write(const std::string& Lines);

    void* file_ = nullptr; // the file's HANDLE, opened with FILE_APPEND_DATA only
    std::string path_;
    std::int64_t size_ = 0;     // the file's size as this log knows it
    std::int64_t cutAt_ = 0;    // the size that makes it cut the file again
    std::string pending_;       // whole lines not yet written
    std::uint64_t flushed_ = 0; // tick count of the last flush
};

} // namespace qm
