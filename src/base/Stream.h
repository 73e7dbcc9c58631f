// Byte streams: read/write at the current position, size and position.
// Files are opened through the C runtime so the same code runs natively and
// on Windows (where the runtime takes ANSI code page paths).
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace qm {

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to count bytes; returns the count read (0 at the end), or a
    // negative value when the stream cannot be read.
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    // Writes count bytes; returns the count written (less on failure).
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    // Total size in bytes; negative when it cannot be measured.
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual void Seek(std::int64_t position) = 0;
};

// The message for a file that could not be written (a full disk, a
// failing or write-protected one): "The disk is full or cannot be written: "
// and the path.
std::string WriteFailureText(const std::string& path);

// Writes go through the C runtime's buffer: a failure may show only when the
// buffer is flushed, so a written file counts as written only once Close()
// has succeeded. The destructor closes without a check (a file given up).
class TFileStream : public TStream {
public:
    enum class Mode { Create, OpenRead };

    // Create makes the file anew (truncating an existing one); OpenRead
    // opens an existing file for reading only. Raises EStreamError.
    TFileStream(const std::string& path, Mode mode);

    // Flushes and closes the file; raises EStreamError with
    // WriteFailureText when a write, the flush or the close failed. No other
    // member may be called afterwards.
    void Close();
    // Whether a Write has come back short (its bytes are lost).
    bool WriteFailed() const { return writeFailed_; }

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Size() const override;
    std::int64_t Position() const override;
    void Seek(std::int64_t position) override;

    const std::string& FileName() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool writeFailed_ = false;
};

// Write-only: counts the bytes written and keeps none (to measure or check
// an output without storing it). Reading reports failure (-1).
class TCountingStream : public TStream {
public:
    std::int32_t Read(void*, std::int32_t) override { return -1; }
    std::int32_t Write(const void*, std::int32_t count) override
    {
        size_ += count;
        return count;
    }
    std::int64_t Size() const override { return size_; }
    std::int64_t Position() const override { return size_; }
    void Seek(std::int64_t) override {}

private:
    std::int64_t size_ = 0;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const override { return static_cast<std::int64_t>(pos_); }
    void Seek(std::int64_t position) override;

    void Clear() { data_.clear(); pos_ = 0; }
    const std::vector<std::uint8_t>& Bytes() const { return data_; }
    std::string AsString() const { return {data_.begin(), data_.end()}; }

private:
    std::vector<std::uint8_t> data_;
    std::size_t pos_ = 0;
};

} // namespace qm
