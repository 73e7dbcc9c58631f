#include "release/ReleaseFiles.h"

#include "release/ListHash.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace qm {
namespace {

// Cuts the next line (without its LF and a CR before it) off Text.
std::optional<std::string_view> NextLine(std::string_view& Text)
{
    if (Text.empty())
        return std::nullopt;
    const std::size_t end = Text.find('\n');
    std::string_view line = Text.substr(0, end);
    Text.remove_prefix(end == std::string_view::npos ? Text.size() : end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

template <std::size_t N>
std::array<std::uint8_t, N> ReadTwoLines(std::string_view Text, std::string_view Header, const char* What)
{
    const std::string what = What;
    const std::optional<std::string_view> header = NextLine(Text);
    if (!header || *header != Header)
        throw EReleaseFileError("not a " + what + " file: its first line is not \"" + std::string(Header) + "\"");
    const std::optional<std::string_view> value = NextLine(Text);
    const std::optional<std::vector<std::uint8_t>> bytes = value ? HexBytes(*value) : std::nullopt;
    if (!bytes || bytes->size() != N)
        throw EReleaseFileError("the " + what + " file's second line is not " + std::to_string(N * 2) +
                                " hex digits");
    if (!Text.empty())
        throw EReleaseFileError("the " + what + " file holds more than two lines");
    std::array<std::uint8_t, N> result{};
    std::copy(bytes->begin(), bytes->end(), result.begin());
    return result;
}

std::string TwoLines(std::string_view Header, std::span<const std::uint8_t> Bytes)
{
    return std::string(Header) + "\n" + HexText(Bytes) + "\n";
}

} // namespace

TPublicKey ReadPublicKey(std::string_view Text)
{
    return ReadTwoLines<64>(Text, PublicKeyHeader, "public key");
}

TPrivateKey ReadPrivateKey(std::string_view Text)
{
    return ReadTwoLines<96>(Text, PrivateKeyHeader, "private key");
}

TRawSignature ReadSignature(std::string_view Text)
{
    return ReadTwoLines<64>(Text, SignatureHeader, "signature");
}

std::string FormatPublicKey(const TPublicKey& Key)
{
    return TwoLines(PublicKeyHeader, Key);
}

std::string FormatPrivateKey(const TPrivateKey& Key)
{
    return TwoLines(PrivateKeyHeader, Key);
}

std::string FormatSignature(const TRawSignature& Signature)
{
    return TwoLines(SignatureHeader, Signature);
}

TPublicKey PublicKeyOf(const TPrivateKey& Key)
{
    TPublicKey key{};
    std::copy_n(Key.begin(), key.size(), key.begin());
    return key;
}

} // namespace qm
