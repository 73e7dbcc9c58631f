// The decompressing half of the codec; reached through DecodeStream (lzh.h).
#pragma once

#include "lzh/BitIO.h"
#include "lzh/CodecState.h"
#include "lzh/PositionCode.h"

#include <cstdint>

namespace qm::lzh {

template <class Reader, class Writer>
class TDecoder {
public:
    TDecoder(TDecoderState& state, Reader& reader, Writer& writer)
        : symbols_(state.Symbols), ring_(state.Ring.data()), in_(reader), writer_(writer)
    {
    }

    // Decodes until at least size bytes are out; returns the count written.
    std::int64_t Run(std::int32_t size)
    {
        std::int64_t count = 0;
        while (count < size) {
            const int c = symbols_.Decode(in_);
            if (c < 256) {
                Put(static_cast<std::uint8_t>(c));
                ++count;
                continue;
            }
            const unsigned length = static_cast<unsigned>(c) - (256 - MatchThreshold - 1);
            Copy((r_ - DecodePosition() - 1) & (RingSize - 1), length);
            count += length;
        }
        return count;
    }

private:
    unsigned DecodePosition()
    {
        unsigned v = in_.GetByte();
        const unsigned u = PositionCode.DecodeU[v];
        // The code's remaining bits, then the low 6 bits, fill the byte's
        // place: the last 6 bits taken are the low 6 bits.
        const unsigned n = PositionCode.DecodeLength[v] - 2U;
        if (n > 0) {
            v = (v << n) | in_.PeekBits(n);
            in_.SkipBits(n);
        }
        return (u << 6) | (v & 0x3F);
    }

    // Copies length bytes from ring position from. The copy runs forward
    // byte by byte, so a match may overlap the bytes it is producing (a run
    // of one byte is a match at distance 1). Where neither end wraps, the
    // bytes go to the writer in one piece.
    void Copy(unsigned from, unsigned length)
    {
        if (from + length <= RingSize && r_ + length <= RingSize) {
            std::uint8_t* to = ring_ + r_;
            const std::uint8_t* source = ring_ + from;
            for (unsigned k = 0; k < length; ++k)
                to[k] = source[k];
            writer_(to, static_cast<std::uint16_t>(length));
            r_ = (r_ + length) & (RingSize - 1);
            return;
        }
        for (unsigned k = 0; k < length; ++k) {
            Put(ring_[from]);
            from = (from + 1) & (RingSize - 1);
        }
    }

    void Put(std::uint8_t byte)
    {
        writer_(&byte, std::uint16_t{1});
        ring_[r_] = byte;
        r_ = (r_ + 1) & (RingSize - 1);
    }

    TSymbolTree& symbols_;
    std::uint8_t* ring_;
    TBitReader<Reader> in_;
    Writer& writer_;
    unsigned r_ = StartPosition;
};

} // namespace qm::lzh
