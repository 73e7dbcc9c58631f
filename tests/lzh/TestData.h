// Inputs and helpers shared by the LZH tests: generated data, the codec run
// over byte vectors, and a digest for pinning long outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lzhtest {

using Bytes = std::vector<std::uint8_t>;

Bytes FromString(const std::string& s);

// Deterministic generators; the same seed gives the same bytes everywhere.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes WordText(std::size_t size, std::uint32_t seed);   // words, spaces, line ends
Bytes Runs(std::size_t size, std::uint32_t seed);       // runs of one byte, 1..300 long
Bytes LeadingSpaces(std::size_t size, std::uint32_t seed); // spaces, then text

// Inputs whose coded form is pinned (lzh_model.py computes the same ones).
Bytes RebuildInput(); // 48000 bytes, mostly literals: reaches the tree rebuild
Bytes TextInput();    // 100000 bytes of word text

// The codec over whole vectors. *bytesAsked counts the decoder's requests,
// including those made before it raised.
Bytes Encode(const Bytes& in, std::int64_t* bytesRead = nullptr);
Bytes Decode(const Bytes& in, std::int32_t size, std::size_t* bytesAsked = nullptr);

std::uint64_t Fnv1a64(const Bytes& data);
std::string Hex(const Bytes& data);

} // namespace lzhtest
