// SHA-256 digests as list.txt carries them, and the hex text they are
// written in. Portable: the loader, qmpack and the fuzz targets share it.
//
// Field 6 of a list.txt line is the SHA-256 of the file as it lies on the
// server (the compressed file for a compressed row): 64 hex digits, letter
// case ignored. A line whose field 6 is empty or missing carries no hash
// (older lists); any other text there makes the line bad. Field 7, the
// SHA-256 of the target once unpacked, follows the same rules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using TSha256Digest = std::array<std::uint8_t, 32>;

inline constexpr std::size_t ListHashField = 6;
inline constexpr std::size_t ListInstalledHashField = 7;

// Bytes written as lower-case hex digits, two per byte.
std::string HexText(std::span<const std::uint8_t> Bytes);

// The bytes written in Text as hex digits (either letter case); none when
// Text holds anything else or an odd number of digits.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view Text);

// The digest written in Text as exactly 64 hex digits; none otherwise.
std::optional<TSha256Digest> ParseSha256Hex(std::string_view Text);

// Field 6 (or 7) of one list line: absent (empty or missing), or a digest, or
// malformed (Text then holds the field as found).
struct TListHash {
    enum class TKind { Absent, Digest, Malformed };
    TKind Kind = TKind::Absent;
    TSha256Digest Digest{};
    std::string Text;
};

// Field 6 as its text alone.
TListHash ReadHashField(std::string_view Field);
// Field 6 of a whole line.
TListHash ReadListHash(std::string_view Line);

} // namespace qm
