#include "base/Stream.h"

#include <algorithm>
#include <cstring>

namespace qm {
namespace {

// 64-bit offsets: a plain long is 32 bits on Windows.
std::int64_t Tell(std::FILE* f)
{
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<std::int64_t>(ftello(f));
#endif
}

bool SeekTo(std::FILE* f, std::int64_t offset, int origin)
{
#ifdef _WIN32
    return _fseeki64(f, offset, origin) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), origin) == 0;
#endif
}

} // namespace

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path)
{
    file_.reset(std::fopen(path.c_str(), mode == Mode::Create ? "w+b" : "rb"));
    if (!file_)
        throw EStreamError((mode == Mode::Create ? "Cannot create file " : "Cannot open file ") + path);
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), file_.get());
    if (n == 0 && std::ferror(file_.get()))
        return -1;
    return static_cast<std::int32_t>(n);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_.get());
    writeFailed_ = writeFailed_ || n != static_cast<std::size_t>(count);
    return static_cast<std::int32_t>(n);
}

void TFileStream::Close()
{
    if (!file_)
        return;
    const bool flushed = std::fflush(file_.get()) == 0 && std::ferror(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    if (writeFailed_ || !flushed || !closed)
        throw EStreamError(WriteFailureText(path_));
}

std::string WriteFailureText(const std::string& path)
{
    return "The disk is full or cannot be written: " + path;
}

std::int64_t TFileStream::Position() const
{
    return Tell(file_.get());
}

std::int64_t TFileStream::Size() const
{
    std::FILE* f = file_.get();
    const std::int64_t here = Tell(f);
    if (here < 0 || !SeekTo(f, 0, SEEK_END))
        return -1;
    const std::int64_t end = Tell(f);
    SeekTo(f, here, SEEK_SET);
    return end;
}

void TFileStream::Seek(std::int64_t position)
{
    if (!SeekTo(file_.get(), position, SEEK_SET))
        throw EStreamError("Cannot seek in file " + path_);
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0 || pos_ >= data_.size())
        return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(count), data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::int32_t>(n);
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const auto n = static_cast<std::size_t>(count);
    if (pos_ + n > data_.size())
        data_.resize(pos_ + n);
    std::memcpy(data_.data() + pos_, buffer, n);
    pos_ += n;
    return count;
}

void TMemoryStream::Seek(std::int64_t position)
{
    if (position < 0)
        throw EStreamError("Invalid stream position");
    pos_ = static_cast<std::size_t>(position);
}

} // namespace qm
