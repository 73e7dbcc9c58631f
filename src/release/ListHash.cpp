#include "release/ListHash.h"

#include "base/ExtraStr.h"

#include <algorithm>

namespace qm {
namespace {

int HexDigitValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

} // namespace

std::string HexText(std::span<const std::uint8_t> Bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(Bytes.size() * 2);
    for (const std::uint8_t b : Bytes) {
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view Text)
{
    if (Text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(Text.size() / 2);
    for (std::size_t i = 0; i < Text.size(); i += 2) {
        const int high = HexDigitValue(Text[i]);
        const int low = HexDigitValue(Text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::optional<TSha256Digest> ParseSha256Hex(std::string_view Text)
{
    TSha256Digest digest{};
    if (Text.size() != digest.size() * 2)
        return std::nullopt;
    const std::optional<std::vector<std::uint8_t>> bytes = HexBytes(Text);
    if (!bytes)
        return std::nullopt;
    std::copy(bytes->begin(), bytes->end(), digest.begin());
    return digest;
}

TListHash ReadListHash(std::string_view Line)
{
    return ReadHashField(GetField(Line, "\t", ListHashField));
}

TListHash ReadHashField(std::string_view Field)
{
    TListHash hash;
    hash.Text = Field;
    if (hash.Text.empty())
        return hash;
    if (const std::optional<TSha256Digest> digest = ParseSha256Hex(hash.Text)) {
        hash.Kind = TListHash::TKind::Digest;
        hash.Digest = *digest;
    } else {
        hash.Kind = TListHash::TKind::Malformed;
    }
    return hash;
}

} // namespace qm
