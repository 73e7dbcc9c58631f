// TRunLog: the download log, QMLoader.log, that support reads when a user
// says "it failed". One line per event, UTC time first; appended by every
// run, cut to its last MaxSize bytes (whole lines) when it is opened.
//
// Call order: Open(Path) at the start of a run, Line(...) for each event,
// Close() at its end (or let the object go). Line() before Open, or after an
// Open that failed, writes nothing.
//
// Errors: none. A log that cannot be opened, cut or written is given up
// silently: it must never stop a run. Lines go out through the file's
// buffer, not one write each: a line FlushMs or more after the last flush
// flushes, FlushIfDue() does when lines have waited that long (the run asks
// at every chunk of a download), Flush() does at once (the run calls it
// before it waits and after a failure) and Close() does. A killed program
// loses at most the lines of its last FlushMs, or those written before a
// transfer that then received nothing until the kill.
//
// Nothing secret may be written: callers pass URLs through SafeURL, which
// drops a user name and password, and never pass credentials otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qm {

class TRunLog {
public:
    static constexpr std::int64_t MaxSize = 1024 * 1024;
    static constexpr const char* FileName = "QMLoader.log";

    void Open(const std::string& Path);
    void Close() { file_.reset(); }
    // "2026-12-07 23:41:05.120Z " + Text; line breaks in Text become blanks.
    void Line(const std::string& Text);
    // Writes out the lines still in the buffer.
    void Flush();
    void FlushIfDue();
    static constexpr std::uint64_t FlushMs = 1000;

private:
    struct TCloser {
        void operator()(std::FILE* File) const { std::fclose(File); }
    };
    std::unique_ptr<std::FILE, TCloser> file_;
    std::uint64_t flushed_ = 0; // tick count of the last flush
    bool pending_ = false;      // lines written since
};

// URL without the user name and password it may carry.
std::string SafeURL(const std::string& URL);

} // namespace qm
