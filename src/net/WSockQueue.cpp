#include "net/WSockQueue.h"

namespace qm {

void TSendQueue::Append(const void* Data, std::int32_t Len)
{
    if (Len <= 0)
        return;
    const auto* bytes = static_cast<const std::uint8_t*>(Data);
    if (chunks_.empty())
        chunks_.emplace_back(chunkSize_);
    std::int32_t taken = chunks_.back().Write(bytes, Len);
    while (taken < Len) {
        chunks_.emplace_back(chunkSize_);
        taken += chunks_.back().Write(bytes + taken, Len - taken);
    }
}

std::span<const std::uint8_t> TSendQueue::Front()
{
    while (!chunks_.empty()) {
        const auto bytes = chunks_.front().Peek();
        if (!bytes.empty() || chunks_.size() == 1)
            return bytes;
        chunks_.pop_front();
    }
    return {};
}

void TSendQueue::Remove(std::int32_t Len)
{
    if (!chunks_.empty())
        chunks_.front().Remove(Len);
}

std::int64_t TSendQueue::Pending() const
{
    std::int64_t total = 0;
    for (const TBuffer& chunk : chunks_)
        total += static_cast<std::int64_t>(chunk.Peek().size());
    return total;
}

} // namespace qm
