// One chunk of a socket's send queue: a fixed-size byte area filled at its
// end and drained from its front. Drained bytes at the front are not reused
// until the chunk is empty again, so data never moves inside a chunk.
//
// Invariant: 0 <= read count <= write count <= size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace qm {

class TBuffer {
public:
    // The size a chunk gets when asked for 0 or fewer bytes: one Ethernet frame.
    static constexpr std::int32_t DefaultSize = 1514;

    explicit TBuffer(std::int32_t Size);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // Gives the chunk a new area of Size bytes (DefaultSize when Size <= 0),
    // keeping the stored bytes. A size below the write count keeps only the
    // first Size bytes, and the counts are cut to match.
    void SetSize(std::int32_t Size);
    std::int32_t Size() const { return size_; }

    // Appends up to Len bytes from Data; returns how many were taken (0 once
    // the write count has reached the size).
    std::int32_t Write(const void* Data, std::int32_t Len);
    // The unread bytes; empty (null data) when there are none.
    std::span<const std::uint8_t> Peek() const;
    // Marks up to Len unread bytes as taken out; returns how many. When the
    // last unread byte goes, both counts fall back to 0.
    std::int32_t Remove(std::int32_t Len);

    std::int32_t WrCount() const { return wrCount_; }
    std::int32_t RdCount() const { return rdCount_; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::int32_t size_ = 0;
    std::int32_t wrCount_ = 0;
    std::int32_t rdCount_ = 0;
};

} // namespace qm
