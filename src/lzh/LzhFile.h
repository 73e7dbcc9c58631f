// A file for the LZH component, opened through the C runtime. Unbuffered:
// the component moves 32 KiB blocks, and a failed write must show in that
// write's count rather than later when a buffer is flushed.
#pragma once

#include "base/Stream.h"

#include <cstdio>
#include <memory>
#include <string>

namespace qm::lzh {

class TLzhFile : public TStream {
public:
    // Open an existing file for reading only, or create (truncate) one for
    // writing. nullptr when the file cannot be opened or created.
    static std::unique_ptr<TLzhFile> OpenRead(const std::string& path);
    static std::unique_ptr<TLzhFile> Create(const std::string& path);

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Size() const override;
    std::int64_t Position() const override;
    void Seek(std::int64_t position) override;

    // Closes the file; false when the system reports a failure on closing.
    bool Close();

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    explicit TLzhFile(std::FILE* f) : file_(f) {}
    static std::unique_ptr<TLzhFile> Open(const std::string& path, const char* mode);

    std::unique_ptr<std::FILE, Closer> file_;
};

} // namespace qm::lzh
