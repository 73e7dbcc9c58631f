// The download log's file: cut to its last MiB, appended line by line.
#include "app/RunLog.h"

#include "http/HttpProtText.h"

#include <windows.h>

#include <vector>

namespace qm {
namespace {

std::int64_t SizeOf(std::FILE* File)
{
    if (std::fseek(File, 0, SEEK_END) != 0)
        return -1;
    return _ftelli64(File);
}

// Keeps the last MaxSize bytes of Path from the first whole line on; the
// cut copy replaces the file only once it is complete.
void CutToLastLines(const std::string& Path, std::int64_t MaxSize)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(Path.c_str(), "rb"), std::fclose);
    if (!in)
        return;
    const std::int64_t size = SizeOf(in.get());
    if (size <= MaxSize || _fseeki64(in.get(), size - MaxSize, SEEK_SET) != 0)
        return;
    std::vector<char> tail(static_cast<std::size_t>(MaxSize));
    tail.resize(std::fread(tail.data(), 1, tail.size(), in.get()));
    in.reset();
    std::size_t from = 0;
    while (from < tail.size() && tail[from++] != '\n') {
    }
    const std::string cut = Path + ".cut";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(cut.c_str(), "wb"), std::fclose);
    const bool written = out && std::fwrite(tail.data() + from, 1, tail.size() - from, out.get()) == tail.size() - from &&
                         std::fflush(out.get()) == 0;
    out.reset();
    if (!written || !MoveFileExA(cut.c_str(), Path.c_str(), MOVEFILE_REPLACE_EXISTING))
        DeleteFileA(cut.c_str());
}

} // namespace

void TRunLog::Open(const std::string& Path)
{
    file_.reset();
    if (Path.empty())
        return;
    CutToLastLines(Path, MaxSize);
    file_.reset(std::fopen(Path.c_str(), "ab"));
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
    std::string line = stamp + Text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    line += "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), file_.get()) != line.size()) {
        file_.reset(); // a full disk: the run goes on without its log
        return;
    }
    pending_ = true;
    FlushIfDue();
}

void TRunLog::FlushIfDue()
{
    if (pending_ && GetTickCount64() - flushed_ >= FlushMs)
        Flush();
}

void TRunLog::Flush()
{
    flushed_ = GetTickCount64();
    pending_ = false;
    if (file_ && std::fflush(file_.get()) != 0)
        file_.reset();
}

std::string SafeURL(const std::string& URL)
{
    const TUrlParts parts = SplitURL(URL);
    if (parts.User.empty() && parts.Pass.empty())
        return URL;
    return (parts.Proto.empty() ? "" : parts.Proto + "://") + parts.Host + (parts.Port.empty() ? "" : ":" + parts.Port) +
           parts.Path;
}

} // namespace qm
