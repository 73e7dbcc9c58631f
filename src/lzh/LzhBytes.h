// The LZH component over byte vectors: a stream-mode TLzhD between two
// memory streams. For tools, tests and benchmarks; raises what the component
// raises.
#pragma once

#include <cstdint>
#include <vector>

namespace qm {

// Each returns the bytes written; *result, when given, receives the value
// the component's operation returned.
std::vector<std::uint8_t> LzhCompressBytes(const std::vector<std::uint8_t>& data, std::int64_t* result = nullptr);
std::vector<std::uint8_t> LzhDecompressBytes(const std::vector<std::uint8_t>& packed, std::int64_t* result = nullptr);

} // namespace qm
