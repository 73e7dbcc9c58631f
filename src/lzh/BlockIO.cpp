#include "lzh/BlockIO.h"

#include "lzh/LzhD.h"

#include <new>

namespace qm::lzh {

TBlockIO::TBlockIO(const std::function<void()>& processMessages) : processMessages_(processMessages)
{
    inBlock_.reset(new (std::nothrow) std::uint8_t[BlockSize]);
    outBlock_.reset(new (std::nothrow) std::uint8_t[BlockSize]);
    if (!inBlock_ || !outBlock_)
        throw ELzrw1Exception("Memory short");
}

void TBlockIO::Attach(TStream& in, TStream& out, TIoTexts texts)
{
    in_ = &in;
    out_ = &out;
    texts_ = std::move(texts);
}

void TBlockIO::ReadDirect(void* data, std::int32_t count)
{
    if (in_->Read(data, count) != count)
        throw ELzrw1Exception(texts_.ReadHeader);
    Fire(processMessages_);
}

void TBlockIO::WriteDirect(const void* data, std::int32_t count)
{
    CheckWrite(out_->Write(data, count), count);
}

// At the end of the input every request comes here again and finds nothing.
bool TBlockIO::Refill()
{
    const std::int32_t n = in_->Read(inBlock_.get(), BlockSize);
    if (n < 0)
        throw ELzrw1Exception(texts_.ReadBlock);
    Fire(processMessages_);
    inFill_ = n;
    inPos_ = 0;
    return n > 0;
}

void TBlockIO::WriteOut()
{
    if (totalWritten_ + outPos_ > writeLimit_)
        throw ELzrw1Exception(limitRefusal_);
    CheckWrite(out_->Write(outBlock_.get(), outPos_), outPos_);
    outPos_ = 0;
}

void TBlockIO::CheckWrite(std::int32_t written, std::int32_t count)
{
    if (written != count)
        throw ELzhWriteError(texts_.Write);
    totalWritten_ += written;
    Fire(processMessages_);
}

} // namespace qm::lzh
