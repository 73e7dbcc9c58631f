// The LZH codec: LZSS over a 4096-byte window (matches of 3 to 60 bytes)
// whose literals and match lengths share one adaptive Huffman code, and whose
// match positions are sent as a fixed prefix code for the upper 6 bits
// followed by the lower 6 bits.
//
// The codec knows nothing of files. It pulls its input one byte at a time
// from a reader and pushes its output into a writer:
//
//   reader(std::uint8_t* buffer, std::uint16_t count) -> std::uint16_t delivered
//   writer(const std::uint8_t* buffer, std::uint16_t count)   (result ignored)
//
// The reader's count is always 1. The writer gets the output in pieces: the
// encoder's are 4 bytes (fewer at the end); the decoder's are one byte, or a
// match that lies in one piece of its window (at most 60 bytes). The buffer
// is valid only during the call. The encoder takes a
// delivered count of 0 as the end of its input and may stop asking there (a
// reader asked again must keep answering 0); the decoder reads an
// undelivered byte as zero bits, but the second one it has to ask for means
// the stream is cut short (see TBitReader in BitIO.h). A writer that fails
// raises an exception, which passes through the codec unchanged, as do the
// reader's. Both callables are template parameters, so each call is resolved
// and inlined at compile time.
//
// The stream carries no header and no end marker: the decoder must be told
// how many bytes to produce. Each call is self-contained and allocates its
// fixed working tables (about 34 KB) for its own duration; calls on
// different threads do not interfere. Failures raise ElzhException
// (lzh/CodecState.h).
#pragma once

#include "base/Exception.h"
#include "lzh/Decoder.h"
#include "lzh/Encoder.h"

#include <concepts>
#include <cstdint>
#include <type_traits>

namespace qm {

template <class R>
concept ReadBlockProc = requires(R r, std::uint8_t* buffer, std::uint16_t count) {
    { r(buffer, count) } -> std::convertible_to<std::uint16_t>;
};

template <class W>
concept WriteBlockProc = requires(W w, const std::uint8_t* buffer, std::uint16_t count) {
    w(buffer, count);
};

// Compresses everything reader delivers into writer and returns the number
// of bytes read. Empty input still yields the code of one literal.
// Raises ElzhException when the tables cannot be allocated.
template <ReadBlockProc Reader, WriteBlockProc Writer>
std::int64_t EncodeStream(Reader&& reader, Writer&& writer)
{
    auto state = lzh::AllocateEncoderState();
    lzh::TEncoder<std::remove_reference_t<Reader>, std::remove_reference_t<Writer>> encoder(
        *state, reader, writer);
    return encoder.Run();
}

// Decodes until at least size bytes have been written (the last match is
// written whole, so a corrupt stream may produce up to 59 bytes more) and
// returns the number written. A size of 0 or less produces nothing, reads
// nothing and returns 0.
// Raises ElzhException when the tables cannot be allocated, and with
// lzh::TruncatedStreamText as soon as the stream needs bits past the end of
// the input: a size larger than the stream holds costs no more output than
// the stream itself can code.
template <ReadBlockProc Reader, WriteBlockProc Writer>
std::int64_t DecodeStream(std::int32_t size, Reader&& reader, Writer&& writer)
{
    if (size <= 0)
        return 0;
    auto state = lzh::AllocateDecoderState();
    lzh::TDecoder<std::remove_reference_t<Reader>, std::remove_reference_t<Writer>> decoder(
        *state, reader, writer);
    return decoder.Run(size);
}

} // namespace qm
