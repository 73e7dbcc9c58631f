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
    //
    // Each position the coding moves over is one step: the oldest position
    // leaves the window, the next input byte enters it, and the new position
    // is inserted into the match tree. The steps are the same whatever is
    // coded; the coding only decides which steps' matches it uses. So two
    // steps may be taken together (see Pair), even when the second belongs
    // to the next token; its match is then kept for that token.
    std::int64_t Run()
    {
        FillLookAhead();
        for (int i = 1; i <= LookAhead; ++i)
            tree_.Insert(r_ - i);
        tree_.Insert(r_);
        TMatch now{tree_.MatchLength, tree_.MatchPosition};
        TMatch next{};
        bool ahead = false; // the step after r_ is taken; next is its match
        do {
            // With a step taken ahead, the position being coded is r_ - 1.
            int steps = EmitNext(now, ahead ? (r_ - 1) & (RingSize - 1) : r_);
            if (ahead) {
                now = next;
                ahead = false;
                --steps;
            }
            while (steps > 0 && !ended_) {
                if (!CanPair()) {
                    std::uint8_t byte = 0;
                    if (!Read(byte))
                        break;
                    Enter(byte);
                    if (repeats_ > LookAhead) {
                        // The key is the previous position's (one byte
                        // repeated over both).
                        tree_.InsertRepeat(r_);
                        now = {tree_.MatchLength, tree_.MatchPosition};
                    } else if (steps == 1) {
                        tree_.Insert(r_);
                        now = {tree_.MatchLength, tree_.MatchPosition};
                    } else {
                        tree_.Insert<false>(r_);
                    }
                    --steps;
                    continue;
                }
                std::uint8_t first = 0;
                std::uint8_t second = 0;
                if (!Read(first))
                    break;
                if (!Read(second)) {
                    Enter(first);
                    tree_.Insert(r_);
                    now = {tree_.MatchLength, tree_.MatchPosition};
                    --steps;
                    break;
                }
                Enter(first);
                Enter(second);
                const int r = (r_ - 1) & (RingSize - 1);
                TMatch firstMatch;
                if (steps == 1)
                    tree_.InsertPair<true, true>(r, firstMatch.Length, firstMatch.Position);
                else if (steps == 2)
                    tree_.InsertPair<false, true>(r, firstMatch.Length, firstMatch.Position);
                else
                    tree_.InsertPair<false, false>(r, firstMatch.Length, firstMatch.Position);
                const TMatch secondMatch{tree_.MatchLength, tree_.MatchPosition};
                if (steps == 1) {
                    now = firstMatch;
                    next = secondMatch;
                    ahead = true;
                } else {
                    now = secondMatch;
                }
                steps -= 2;
            }
            // Input has ended: slide over the rest of the match without
            // new bytes, shrinking the look-ahead.
            for (; steps > 0; --steps) {
                tree_.Remove(s_);
                Advance();
                if (--len_ != 0) {
                    tree_.Insert(r_);
                    now = {tree_.MatchLength, tree_.MatchPosition};
                }
            }
        } while (len_ > 0);
        out_.Flush();
        return read_;
    }

private:
    struct TMatch {
        int Length = 0;
        int Position = 0; // distance back minus 1
    };

    void FillLookAhead()
    {
        std::uint8_t byte = 0;
        while (len_ < LookAhead && reader_(&byte, std::uint16_t{1}) != 0) {
            tree_.Store(r_ + len_, byte);
            ++len_;
        }
        read_ = len_;
    }

    // The next input byte; false (for good) at the end of the input.
    bool Read(std::uint8_t& byte)
    {
        if (reader_(&byte, std::uint16_t{1}) == 0) {
            ended_ = true;
            return false;
        }
        ++read_;
        return true;
    }

    // The window moves on by one position, the oldest giving way to byte.
    void Enter(std::uint8_t byte)
    {
        repeats_ = byte == newest_ ? repeats_ + 1 : 1;
        newest_ = byte;
        tree_.Remove(s_);
        tree_.Store(s_, byte);
        Advance();
    }

    // Whether the next two steps may insert their positions together: they
    // must go into different trees, and the position the second step takes
    // out must not be in the first one's tree, since the first insertion
    // still has to see it.
    bool CanPair() const
    {
        const std::uint8_t a = tree_.At((r_ + 1) & (RingSize - 1));
        const std::uint8_t b = tree_.At((r_ + 2) & (RingSize - 1));
        return a != b && !tree_.InTree((s_ + 1) & (RingSize - 1), a);
    }

    // Codes the literal at position at or the given match; returns the
    // bytes it covers.
    int EmitNext(TMatch m, int at)
    {
        if (m.Length > len_)
            m.Length = len_;
        if (m.Length <= MatchThreshold) {
            symbols_.Encode(tree_.At(at), out_);
            return 1;
        }
        symbols_.Encode(m.Length + 256 - MatchThreshold - 1, out_);
        EmitPosition(static_cast<unsigned>(m.Position));
        return m.Length;
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
    bool ended_ = false;    // the reader has answered 0
    // The byte that entered last, and how many times in a row it entered
    // (counted from the first step on, so never more than are there).
    std::uint8_t newest_ = 0;
    int repeats_ = 0;
};

} // namespace qm::lzh
