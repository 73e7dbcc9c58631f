// The fixed prefix code for the upper 6 bits of a match position: code
// lengths 3 to 8, assigned canonically in increasing order. The lower 6 bits
// follow verbatim.
#pragma once

#include <array>
#include <cstdint>

namespace qm::lzh {

struct TPositionCode {
    std::array<std::uint8_t, 64> Length{};   // code length of each upper value u
    std::array<std::uint8_t, 64> Pattern{};  // its code, left-aligned in 8 bits
    std::array<std::uint8_t, 256> DecodeU{}; // u whose code is a prefix of a byte
    std::array<std::uint8_t, 256> DecodeLength{};
};

constexpr unsigned PositionCodeLength(unsigned u)
{
    return u < 1 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
}

constexpr TPositionCode MakePositionCode()
{
    TPositionCode t;
    unsigned code = 0;
    unsigned prevLen = PositionCodeLength(0);
    for (unsigned u = 0; u < 64; ++u) {
        const unsigned len = PositionCodeLength(u);
        code <<= (len - prevLen);
        prevLen = len;
        t.Length[u] = static_cast<std::uint8_t>(len);
        t.Pattern[u] = static_cast<std::uint8_t>(code << (8 - len));
        // Every byte that starts with this code decodes to u.
        for (unsigned v = 0; v < (1U << (8 - len)); ++v) {
            t.DecodeU[t.Pattern[u] + v] = static_cast<std::uint8_t>(u);
            t.DecodeLength[t.Pattern[u] + v] = static_cast<std::uint8_t>(len);
        }
        ++code;
    }
    return t;
}

inline constexpr TPositionCode PositionCode = MakePositionCode();

} // namespace qm::lzh
