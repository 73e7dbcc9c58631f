// Bit packing for the LZH stream: most significant bit first, one byte at a
// time through the codec's callbacks.
#pragma once

#include "lzh/LzhError.h"

#include <cstdint>

namespace qm::lzh {

// Collects bits and hands them to the writer four whole bytes at a time;
// Flush() hands over the rest, the last byte padded with zero bits.
template <class Writer>
class TBitWriter {
public:
    explicit TBitWriter(Writer& writer) : writer_(writer) {}

    // Emits the low len bits of code (len <= 32), the highest of them first.
    void Put(std::uint32_t code, unsigned len)
    {
        acc_ = (acc_ << len) | code;
        count_ += len;
        if (count_ >= 32) {
            count_ -= 32;
            const auto word = static_cast<std::uint32_t>(acc_ >> count_);
            const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                                           static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
            writer_(bytes, std::uint16_t{4});
        }
    }

    void Flush()
    {
        std::uint8_t bytes[4] = {};
        std::uint16_t n = 0;
        for (; count_ >= 8; count_ -= 8)
            bytes[n++] = static_cast<std::uint8_t>(acc_ >> (count_ - 8));
        if (count_ > 0)
            bytes[n++] = static_cast<std::uint8_t>(acc_ << (8 - count_));
        count_ = 0;
        if (n > 0)
            writer_(bytes, n);
    }

private:
    Writer& writer_;
    std::uint64_t acc_ = 0; // only the low count_ bits are pending
    unsigned count_ = 0;    // 0..31 between calls
};

// Takes bits from the reader. It keeps at most 16 bits and asks for the next
// byte only when 8 or fewer are left, so it asks for at most one byte beyond
// the byte that holds the last bit taken. A byte the reader cannot deliver
// reads as zero bits.
//
// The encoder pads its last byte with zero bits, so a whole stream never
// makes the decoder take a bit that starts past its end: the read-ahead a
// valid stream needs is that one byte. A second undelivered byte therefore
// means the stream was cut (or declares more data than it holds), and
// Fill raises ElzhException(TruncatedStreamText) instead of decoding on
// from zeros. A take of eight bits may still begin in the last byte and end
// in the zeros behind it.
template <class Reader>
class TBitReader {
public:
    static constexpr unsigned MaxMissingBytes = 1;

    explicit TBitReader(Reader& reader) : reader_(reader) {}

    unsigned GetBit()
    {
        Fill();
        const unsigned bit = (acc_ >> 31) & 1U;
        acc_ <<= 1;
        --count_;
        return bit;
    }

    unsigned GetByte()
    {
        Fill();
        const unsigned byte = acc_ >> 24;
        acc_ <<= 8;
        count_ -= 8;
        return byte;
    }

    // The next n bits (1 <= n <= 8) without taking them.
    unsigned PeekBits(unsigned n)
    {
        Fill();
        return acc_ >> (32 - n);
    }

    // Takes n bits (at most 8) already seen through PeekBits. The reader is
    // asked for exactly the bytes that n calls of GetBit would have asked
    // for: GetBit keeps 9 bits before each take, so at least 8 stay after.
    void SkipBits(unsigned n)
    {
        acc_ <<= n;
        count_ -= n;
        Fill(7);
    }

private:
    void Fill(unsigned below = 8)
    {
        while (count_ <= below) {
            std::uint8_t byte = 0;
            if (reader_(&byte, std::uint16_t{1}) != 1) {
                byte = 0;
                if (++missing_ > MaxMissingBytes)
                    throw ElzhException(TruncatedStreamText);
            }
            acc_ |= static_cast<std::uint32_t>(byte) << (24 - count_);
            count_ += 8;
        }
    }

    Reader& reader_;
    std::uint32_t acc_ = 0; // valid bits left-aligned at bit 31
    unsigned count_ = 0;
    unsigned missing_ = 0;  // bytes asked for past the end of the input
};

} // namespace qm::lzh
