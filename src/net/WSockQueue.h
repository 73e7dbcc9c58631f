// The socket's send queue: an ordered list of TBuffer chunks, oldest first.
// Data is appended behind everything queued (a partly drained chunk is never
// refilled at its front) and taken out from the oldest chunk. Drained chunks
// are freed as soon as a newer one follows; the last stays for reuse.
#pragma once

#include "net/WSockbuf.h"

#include <cstdint>
#include <deque>
#include <span>

namespace qm {

class TSendQueue {
public:
    explicit TSendQueue(std::int32_t ChunkSize = TBuffer::DefaultSize) : chunkSize_(ChunkSize) {}

    // Copies Len bytes behind the queued ones, adding chunks of ChunkSize
    // bytes as needed.
    void Append(const void* Data, std::int32_t Len);
    // The oldest unsent bytes (at most one chunk's worth); empty when nothing
    // is queued. Frees the drained chunks that stand in front of them.
    std::span<const std::uint8_t> Front();
    // Marks Len bytes of Front() as sent.
    void Remove(std::int32_t Len);
    // Discards everything queued.
    void Clear() { chunks_.clear(); }

    std::int32_t ChunkSize() const { return chunkSize_; }
    std::size_t ChunkCount() const { return chunks_.size(); }
    bool Empty() const { return chunks_.empty(); }
    // Unsent bytes over all chunks.
    std::int64_t Pending() const;

private:
    std::deque<TBuffer> chunks_;
    std::int32_t chunkSize_;
};

} // namespace qm
