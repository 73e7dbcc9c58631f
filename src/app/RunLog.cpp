// The download log's file: opened for appending only, whole lines a write, cut
// to its last lines whenever it passes its limit.
#include "app/RunLog.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace qm {
namespace {

using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Keeps the last Keep bytes of Path from the first whole line on (a line
// that begins exactly Keep bytes before the end is whole); the cut copy
// replaces the file only once it is complete.
void CutToLastLines(const std::string& Path, std::int64_t Keep)
{
    TFile in(std::fopen(Path.c_str(), "rb"), std::fclose);
    if (!in || _fseeki64(in.get(), 0, SEEK_END) != 0)
        return;
    const std::int64_t size = _ftelli64(in.get());
    // One byte more than is kept: the end of the line before, if it is one.
    if (size <= Keep || _fseeki64(in.get(), size - Keep - 1, SEEK_SET) != 0)
        return;
    std::vector<char> tail(static_cast<std::size_t>(Keep) + 1);
    tail.resize(std::fread(tail.data(), 1, tail.size(), in.get()));
    in.reset();
    std::size_t from = 0;
    while (from < tail.size() && tail[from++] != '\n') {
    }
    const std::string cut = Path + ".cut";
    TFile out(std::fopen(cut.c_str(), "wb"), std::fclose);
    const bool written = out && std::fwrite(tail.data() + from, 1, tail.size() - from, out.get()) == tail.size() - from &&
                         std::fflush(out.get()) == 0;
    out.reset();
    if (!written || !MoveFileExA(cut.c_str(), Path.c_str(), MOVEFILE_REPLACE_EXISTING))
        DeleteFileA(cut.c_str());
}

} // namespace

void TRunLog::Open(const std::string& Path)
{
    Close();
    path_ = Path;
    if (!path_.empty())
        Reopen();
}

void TRunLog::Close()
{
    Flush();
    CloseFile();
}

void TRunLog::CloseFile()
{
    if (file_)
        CloseHandle(file_);
    file_ = nullptr;
}

// Cuts the file if it is past MaxSize and opens it for appending. A file
// that could not be cut is cut again only after KeepSize more bytes.
bool TRunLog::Reopen()
{
    CloseFile();
    CutToLastLines(path_, KeepSize);
    HANDLE file = CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return false;
    }
    file_ = file;
    size_ = size.QuadPart;
    cutAt_ = (std::max)(MaxSize, size_ + KeepSize);
    return true;
}

void TRunLog::Line(const std::string& Text)
{
    if (!file_)
        return;
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03uZ ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    pending_ += stamp + CleanLogText(Text) + "\r\n";
    FlushIfDue();
}

void TRunLog::FlushIfDue()
{
    if (!pending_.empty() && GetTickCount64() - flushed_ >= FlushMs)
        Flush();
}

void TRunLog::Flush()
{
    flushed_ = GetTickCount64();
    if (file_ && !pending_.empty())
        Write(pending_);
    pending_.clear();
}

// Whole lines in one write: appended as one piece, never split by another
// program's lines.
void TRunLog::Write(const std::string& Lines)
{
    DWORD written = 0;
    if (!WriteFile(file_, Lines.data(), static_cast<DWORD>(Lines.size()), &written, nullptr) ||
        written != Lines.size()) {
        CloseFile(); // a full disk: the run goes on without its log
        return;
    }
    size_ += written;
    if (size_ > cutAt_)
        Reopen();
}

} // namespace qm
