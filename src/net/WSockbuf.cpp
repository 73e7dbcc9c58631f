#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

namespace qm {

TBuffer::TBuffer(std::int32_t Size)
{
    SetSize(Size);
}

void TBuffer::SetSize(std::int32_t Size)
{
    if (Size <= 0)
        Size = DefaultSize;
    if (Size == size_)
        return;
    auto area = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(Size));
    if (rdCount_ != wrCount_) {
        // Keep positions as they are; a smaller area keeps what fits.
        wrCount_ = std::min(wrCount_, Size);
        rdCount_ = std::min(rdCount_, wrCount_);
        std::memcpy(area.get(), data_.get(), static_cast<std::size_t>(wrCount_));
        if (rdCount_ == wrCount_)
            rdCount_ = wrCount_ = 0;
    }
    data_ = std::move(area);
    size_ = Size;
}

std::int32_t TBuffer::Write(const void* Data, std::int32_t Len)
{
    const std::int32_t free = size_ - wrCount_;
    if (free <= 0 || Len <= 0)
        return 0;
    const std::int32_t n = std::min(free, Len);
    std::memcpy(data_.get() + wrCount_, Data, static_cast<std::size_t>(n));
    wrCount_ += n;
    return n;
}

std::span<const std::uint8_t> TBuffer::Peek() const
{
    const std::int32_t avail = wrCount_ - rdCount_;
    if (avail <= 0)
        return {};
    return {data_.get() + rdCount_, static_cast<std::size_t>(avail)};
}

std::int32_t TBuffer::Remove(std::int32_t Len)
{
    const std::int32_t avail = wrCount_ - rdCount_;
    if (avail <= 0 || Len <= 0)
        return 0;
    const std::int32_t n = std::min(Len, avail);
    rdCount_ += n;
    if (rdCount_ == wrCount_)
        rdCount_ = wrCount_ = 0;
    return n;
}

} // namespace qm
