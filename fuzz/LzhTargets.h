// The LZH fuzz targets, shared by the libFuzzer entry points and by the
// replay program that runs the saved inputs as an ordinary test. A target
// that finds a fault prints it and aborts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmfuzz {

// Decompresses arbitrary bytes in stream mode, stored size as given: the
// decoder stops at the end of its input, so a size of gigabytes costs no
// more than the input can code (a slow run here is a finding).
void FuzzDecompress(const std::uint8_t* data, std::size_t size);

// Compresses the input, decompresses the result and demands the input back.
// An input that starts with 'R' and a count byte stands for the rest of the
// input repeated (long matches); with 'X' each copy is varied by an XOR, so
// that it codes as literals and reaches the tree rebuild. Both stop at 64 KiB.
void FuzzRoundTrip(const std::uint8_t* data, std::size_t size);

} // namespace qmfuzz
