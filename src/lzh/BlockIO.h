// The LZH component's side of the codec: the input and output streams behind
// 32 KiB blocks, read by the codec one byte at a time and written in pieces
// (lzh.h), and the count checks with their error texts.
#pragma once

#include "base/Events.h"
#include "base/Stream.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <memory>
#include <string>

namespace qm::lzh {

// The error texts of one operation; they differ between file and stream mode.
struct TIoTexts {
    std::string ReadHeader; // a direct read came back short
    std::string ReadBlock;  // a block read failed
    std::string Write;      // a direct or block write came back short
};

class TBlockIO {
public:
    static constexpr std::int32_t BlockSize = 32768;

    // Raises ELzrw1Exception "Memory short" when the blocks cannot be had.
    explicit TBlockIO(const std::function<void()>& processMessages);

    // The ends to move data between, and the texts for their failures.
    void Attach(TStream& in, TStream& out, TIoTexts texts);

    // Header transfers, straight to the stream and checked.
    void ReadDirect(void* data, std::int32_t count);
    void WriteDirect(const void* data, std::int32_t count);

    // The codec's reader: delivers up to count bytes, 0 at the end of input.
    std::uint16_t ReadBlock(std::uint8_t* buffer, std::uint16_t count)
    {
        std::uint16_t n = 0;
        for (; n < count; ++n) {
            if (inPos_ >= inFill_ && !Refill())
                break;
            buffer[n] = inBlock_[static_cast<std::size_t>(inPos_++)];
        }
        return n;
    }

    // The codec's writer: buffers the bytes, writing each full block out
    // when the next byte arrives.
    std::uint16_t WriteBlock(const std::uint8_t* buffer, std::uint16_t count)
    {
        for (std::uint16_t n = 0; n < count; ++n) {
            if (outPos_ == BlockSize)
                WriteOut();
            outBlock_[static_cast<std::size_t>(outPos_++)] = buffer[n];
        }
        return count;
    }

    // Writes what is buffered (possibly nothing).
    void Flush() { WriteOut(); }

    // From now on a block that would take the output past Bytes is not
    // written: ELzrw1Exception(Refusal) instead.
    void LimitWrites(std::int64_t Bytes, std::string Refusal)
    {
        writeLimit_ = Bytes;
        limitRefusal_ = std::move(Refusal);
    }

    std::int64_t TotalWritten() const { return totalWritten_; }

private:
    bool Refill();
    void WriteOut();
    void CheckWrite(std::int32_t written, std::int32_t count);

    const std::function<void()>& processMessages_;
    TStream* in_ = nullptr;
    TStream* out_ = nullptr;
    TIoTexts texts_;
    std::unique_ptr<std::uint8_t[]> inBlock_;
    std::unique_ptr<std::uint8_t[]> outBlock_;
    std::int32_t inFill_ = 0;
    std::int32_t inPos_ = 0;
    std::int32_t outPos_ = 0;
    std::int64_t totalWritten_ = 0;
    std::int64_t writeLimit_ = INT64_MAX;
    std::string limitRefusal_;
};

} // namespace qm::lzh
