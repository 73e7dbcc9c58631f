// The compressing half of the codec; reached through EncodeStream (lzh.h).
#pragma once

#include "lzh/BitIO.h"
#include "lzh/CodecState.h"
#include "lzh/PositionCode.h"

#include <cstdint>

namespace qm::lzh {

template <class Reader, class Writer>
class TEncoder {
public:
    TEncoder(TEncoderState& state, Reader& reader, Writer& writer)
        : symbols_(state.Symbols), tree_(state.Matches), reader_(reader), out_(writer)
    {
    }

    // Codes the whole input and returns the number of bytes read.
    std::int64_t Run()
    {
        FillLookAhead();
        for (int i = 1; i <= LookAhead; ++i)
            tree_.Insert(r_ - i);
        tree_.Insert(r_);
        do {
            const int last = EmitNext();
            int got = 0;
            std::uint8_t byte = 0;
            while (got < last && reader_(&byte, std::uint16_t{1}) != 0) {
                tree_.Remove(s_);
                tree_.Store(s_, byte);
                Advance();
                tree_.Insert(r_);
                ++got;
            }
            read_ += got;
            // Input has ended: slide over the rest of the match without
            // new bytes, shrinking the look-ahead.
            for (; got < last; ++got) {
                tree_.Remove(s_);
                Advance();
                if (--len_ != 0)
                    tree_.Insert(r_);
            }
        } while (len_ > 0);
        out_.Flush();
        return read_;
    }

private:
    void FillLookAhead()
    {
        std::uint8_t byte = 0;
        while (len_ < LookAhead && reader_(&byte, std::uint16_t{1}) != 0) {
            tree_.Store(r_ + len_, byte);
            ++len_;
        }
        read_ = len_;
    }

    // Codes a literal or the current match; returns the bytes it covers.
    int EmitNext()
    {
        if (tree_.MatchLength > len_)
            tree_.MatchLength = len_;
        if (tree_.MatchLength <= MatchThreshold) {
            symbols_.Encode(tree_.At(r_), out_);
            return 1;
        }
        symbols_.Encode(tree_.MatchLength + 256 - MatchThreshold - 1, out_);
        EmitPosition(static_cast<unsigned>(tree_.MatchPosition));
        return tree_.MatchLength;
    }

    void EmitPosition(unsigned d)
    {
        const unsigned u = d >> 6;
        const unsigned len = PositionCode.Length[u];
        out_.Put(static_cast<std::uint32_t>(PositionCode.Pattern[u] >> (8 - len)), len);
        out_.Put(d & 0x3F, 6);
    }

    void Advance()
    {
        s_ = (s_ + 1) & (RingSize - 1);
        r_ = (r_ + 1) & (RingSize - 1);
    }

    TSymbolTree& symbols_;
    TMatchTree& tree_;
    Reader& reader_;
    TBitWriter<Writer> out_;
    int s_ = 0;             // oldest position, replaced by the next byte read
    int r_ = StartPosition; // position being coded
    int len_ = 0;           // bytes held in the look-ahead
    std::int64_t read_ = 0;
};

} // namespace qm::lzh
