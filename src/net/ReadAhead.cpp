// TReadAhead: a byte buffer read from the front and filled at the back.
#include "net/ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace qm {

std::span<char> TReadAhead::Space(std::size_t Max)
{
    if (start_ == end_)
        start_ = end_ = 0;
    if (bytes_.size() - end_ < Max && start_ > 0) {
        std::memmove(bytes_.data(), bytes_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (bytes_.size() - end_ < Max)
        bytes_.resize(end_ + Max);
    return {bytes_.data() + end_, Max};
}

void TReadAhead::Received(std::size_t Count)
{
    end_ = std::min(end_ + Count, bytes_.size());
}

void TReadAhead::Append(const void* Data, std::size_t Len)
{
    if (Len == 0)
        return;
    std::memcpy(Space(Len).data(), Data, Len);
    end_ += Len;
}

std::size_t TReadAhead::Read(void* Buffer, std::size_t Size)
{
    const std::size_t n = std::min(Size, Held());
    if (n > 0)
        std::memcpy(Buffer, bytes_.data() + start_, n);
    start_ += n;
    return n;
}

} // namespace qm
