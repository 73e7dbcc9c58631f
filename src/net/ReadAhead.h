// TReadAhead: bytes taken from the network ahead of their reader, handed
// out in the order they came and in pieces of any size. The TLS socket keeps
// decrypted bytes here and, on a plain connection, the bytes of one large
// socket read, so that a reader that takes a few KiB at a time costs no
// socket call per piece.
//
// Two ways in: Space(Max) then Received(n) for a read straight into the
// buffer, or Append for bytes produced elsewhere. Held bytes are moved to
// the front (never dropped) when room is needed, and the buffer grows only
// as far as that still leaves too little room. Nothing here raises except
// std::bad_alloc; it is not thread-safe.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace qm {

class TReadAhead {
public:
    std::size_t Held() const { return end_ - start_; }
    bool Empty() const { return end_ == start_; }
    // Room for up to Max more bytes behind those held (exactly Max bytes;
    // Max 0 gives an empty span). Received(n) then takes n <= Max of them.
    std::span<char> Space(std::size_t Max);
    void Received(std::size_t Count);
    void Append(const void* Data, std::size_t Len);
    // Takes up to Size of the oldest bytes into Buffer; their count.
    std::size_t Read(void* Buffer, std::size_t Size);
    // The bytes held, for a reader that works on them where they lie (they
    // stay valid until the next Space, Append or Clear); Skip(n) then
    // takes the first n of them.
    char* Data() { return bytes_.data() + start_; }
    void Skip(std::size_t Count) { start_ += Count < Held() ? Count : Held(); }
    // Forgets what is held (the memory stays for the next bytes).
    void Clear() { start_ = end_ = 0; }

private:
    std::vector<char> bytes_;
    std::size_t start_ = 0, end_ = 0;
};

} // namespace qm
