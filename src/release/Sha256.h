// SHA-256 of our own, fed piece by piece, and a stream that hashes what is
// written through it. On processors with the SHA extensions the blocks go
// through them (about ten times the speed of the system's provider under
// Wine, which every download is hashed with); elsewhere a plain C++ round
// function. Portable: no Windows, no state beyond the object.
#pragma once

#include "base/Stream.h"
#include "release/ListHash.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

// Which round function hashes the blocks: the best the processor has, or
// one of the two named (tests hold them to each other).
enum class TSha256Rounds : std::uint8_t { Best, Plain, Extensions };

// Whether the processor has the SHA extensions.
bool HasSha256Extensions();

// One digest: Update any number of times, then Finish once. Rounds
// Extensions on a processor without them is Plain.
class TSha256 {
public:
    explicit TSha256(TSha256Rounds Rounds = TSha256Rounds::Best);
    void Update(const void* Data, std::size_t Len);
    TSha256Digest Finish();

    static TSha256Digest Of(std::string_view Bytes, TSha256Rounds Rounds = TSha256Rounds::Best);

private:
    void (*compress_)(std::uint32_t*, const std::uint8_t*, std::size_t);
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t held_ = 0;   // bytes in block_
    std::uint64_t total_ = 0; // bytes hashed
};

// Passes writes on to Inner and hashes the bytes Inner took. Reading and
// seeking are refused (the digest would not be that of the file); Size and
// Position are Inner's. Inner must outlive this stream.
class THashingStream final : public TStream {
public:
    explicit THashingStream(TStream& Inner) : inner_(Inner) {}

    std::int32_t Read(void*, std::int32_t) override { return -1; }
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Size() const override { return inner_.Size(); }
    std::int64_t Position() const override { return inner_.Position(); }
    void Seek(std::int64_t) override { throw EStreamError("A hashed stream cannot seek"); }

    // The digest of every byte written so far; call once.
    TSha256Digest Finish() { return sha_.Finish(); }

private:
    TStream& inner_;
    TSha256 sha_;
};

} // namespace qm
