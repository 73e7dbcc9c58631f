// The LZH component's output file, created through the C runtime.
// Unbuffered: the component writes 32 KiB blocks, and a failed write must
// show in that write's count, not later when a buffer is flushed; closing
// is checked too.
#pragma once

#include "base/Stream.h"

#include <cstdio>
#include <memory>
#include <string>

namespace qm::lzh {

class TLzhFile : public TStream {
public:
    // Creates (or truncates) path for writing; nullptr when that fails.
    static std::unique_ptr<TLzhFile> Create(const std::string& path);

    std::int32_t Read(void* buffer, std::int32_t count) override; // write-only: always -1
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Size() const override { return Position(); }
    std::int64_t Position() const override;
    void Seek(std::int64_t position) override;

    // Closes the file; false when the system reports a failure on closing.
    bool Close();

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    explicit TLzhFile(std::FILE* f) : file_(f) {}

    std::unique_ptr<std::FILE, Closer> file_;
};

} // namespace qm::lzh
