#include "base/Stream.h"

#include <algorithm>
#include <cstring>

namespace qm {

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
    return static_cast<std::int32_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_.get()));
}

std::int64_t TFileStream::Position() const
{
    return static_cast<std::int64_t>(std::ftell(file_.get()));
}

std::int64_t TFileStream::Size() const
{
    std::FILE* f = file_.get();
    const long here = std::ftell(f);
    std::fseek(f, 0, SEEK_END);
    const long end = std::ftell(f);
    std::fseek(f, here, SEEK_SET);
    return end;
}

void TFileStream::Seek(std::int64_t position)
{
    if (std::fseek(file_.get(), static_cast<long>(position), SEEK_SET) != 0)
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
