// The LZH fuzz targets, shared by the libFuzzer entry points and by the
// replay program that runs the saved inputs as an ordinary test. A target
// that finds a fault prints it and aborts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmfuzz {

// Decompresses arbitrary bytes in stream mode. A stored size above 64 KiB
// is folded to at most 4 KiB, so that one input cannot ask for gigabytes;
// everything else is as given.
void FuzzDecompress(const std::uint8_t* data, std::size_t size);

// Compresses the input, decompresses the result and demands the input back.
// An input that starts with 'R' and a count byte stands for the rest of the
// input repeated (long matches); with 'X' each copy is varied by an XOR, so
// that it codes as literals and reaches the tree rebuild. Both stop at 64 KiB.
void FuzzRoundTrip(const std::uint8_t* data, std::size_t size);

} // namespace qmfuzz
