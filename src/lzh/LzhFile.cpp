#include "lzh/LzhFile.h"

namespace qm::lzh {

namespace {

// 64-bit offsets on both runtimes, so sizes past 2 GiB are seen as such.
std::int64_t Tell(std::FILE* f)
{
#ifdef _WIN32
    return _ftelli64(f);
#else
    return ftello(f);
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

std::unique_ptr<TLzhFile> TLzhFile::Open(const std::string& path, const char* mode)
{
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (!f)
        return nullptr;
    std::unique_ptr<TLzhFile> file(new TLzhFile(f));
    std::setvbuf(f, nullptr, _IONBF, 0);
    return file;
}

std::unique_ptr<TLzhFile> TLzhFile::OpenRead(const std::string& path)
{
    return Open(path, "rb");
}

std::unique_ptr<TLzhFile> TLzhFile::Create(const std::string& path)
{
    return Open(path, "wb");
}

std::int32_t TLzhFile::Read(void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), file_.get());
    if (n == 0 && std::ferror(file_.get()))
        return -1;
    return static_cast<std::int32_t>(n);
}

std::int32_t TLzhFile::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    return static_cast<std::int32_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_.get()));
}

std::int64_t TLzhFile::Size() const
{
    std::FILE* f = file_.get();
    const std::int64_t here = Tell(f);
    if (here < 0 || !SeekTo(f, 0, SEEK_END))
        return -1;
    const std::int64_t end = Tell(f);
    SeekTo(f, here, SEEK_SET);
    return end;
}

std::int64_t TLzhFile::Position() const
{
    return Tell(file_.get());
}

void TLzhFile::Seek(std::int64_t position)
{
    if (!SeekTo(file_.get(), position, SEEK_SET))
        throw EStreamError("Cannot seek in file");
}

bool TLzhFile::Close()
{
    if (!file_)
        return true;
    return std::fclose(file_.release()) == 0;
}

} // namespace qm::lzh
