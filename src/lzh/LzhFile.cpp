#include "lzh/LzhFile.h"

namespace qm::lzh {

std::unique_ptr<TLzhFile> TLzhFile::Create(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return nullptr;
    std::unique_ptr<TLzhFile> file(new TLzhFile(f));
    std::setvbuf(f, nullptr, _IONBF, 0);
    return file;
}

std::int32_t TLzhFile::Read(void*, std::int32_t)
{
    return -1;
}

std::int32_t TLzhFile::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    return static_cast<std::int32_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_.get()));
}

std::int64_t TLzhFile::Position() const
{
#ifdef _WIN32
    return _ftelli64(file_.get());
#else
    return ftello(file_.get());
#endif
}

void TLzhFile::Seek(std::int64_t position)
{
#ifdef _WIN32
    const int failed = _fseeki64(file_.get(), position, SEEK_SET);
#else
    const int failed = fseeko(file_.get(), static_cast<off_t>(position), SEEK_SET);
#endif
    if (failed)
        throw EStreamError("Cannot seek in file");
}

bool TLzhFile::Close()
{
    if (!file_)
        return true;
    return std::fclose(file_.release()) == 0;
}

} // namespace qm::lzh
