#include "release/ReleaseFiles.h"

#include "release/ListHash.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
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

// The hex value of N bytes on Line, the Ordinal line of a What file.
template <std::size_t N>
std::array<std::uint8_t, N> HexValue(std::optional<std::string_view> Line, const std::string& What,
                                     const char* Ordinal)
{
    const std::optional<std::vector<std::uint8_t>> bytes = Line ? HexBytes(*Line) : std::nullopt;
    if (!bytes || bytes->size() != N)
        throw EReleaseFileError("the " + What + " file's " + Ordinal + " line is not " + std::to_string(N * 2) +
                                " hex digits");
    std::array<std::uint8_t, N> result{};
    std::copy(bytes->begin(), bytes->end(), result.begin());
    return result;
}

void ExpectHeader(std::optional<std::string_view> Line, std::string_view Header, const std::string& What)
{
    if (!Line || *Line != Header)
        throw EReleaseFileError("not a " + What + " file: its first line is not \"" + std::string(Header) + "\"");
}

void ExpectEnd(std::string_view Rest, const std::string& What, const char* Count)
{
    if (!Rest.empty())
        throw EReleaseFileError("the " + What + " file holds more than " + Count + " lines");
}

template <std::size_t N>
std::array<std::uint8_t, N> ReadTwoLines(std::string_view Text, std::string_view Header, const char* What)
{
    ExpectHeader(NextLine(Text), Header, What);
    const std::array<std::uint8_t, N> value = HexValue<N>(NextLine(Text), What, "second");
    ExpectEnd(Text, What, "two");
    return value;
}

std::string TwoLines(std::string_view Header, std::span<const std::uint8_t> Bytes)
{
    return std::string(Header) + "\n" + HexText(Bytes) + "\n";
}

// The number after Name and one space on Line; "never" gives none when
// Never is allowed.
std::optional<std::int64_t> NumberLine(std::optional<std::string_view> Line, std::string_view Name, bool Never,
                                       const char* Ordinal)
{
    std::string_view value = Line.value_or("");
    if (value.starts_with(Name) && value.substr(Name.size()).starts_with(' ')) {
        value.remove_prefix(Name.size() + 1);
        if (Never && value == "never")
            return std::nullopt;
        if (const std::optional<std::int64_t> number = SignatureNumber(value))
            return number;
    }
    throw EReleaseFileError("the signature file's " + std::string(Ordinal) + " line is not \"" + std::string(Name) +
                            "\" and a decimal number from 0 to 9223372036854775807" + (Never ? " or \"never\"" : ""));
}

void CheckMirrors(const std::vector<std::string>& Mirrors)
{
    if (Mirrors.size() > MaxSignedMirrors)
        throw EReleaseFileError("the signature names " + std::to_string(Mirrors.size()) + " mirrors; at most " +
                                std::to_string(MaxSignedMirrors) + " are allowed");
    for (const std::string& url : Mirrors)
        if (const std::optional<std::string> problem = MirrorURLProblem(url))
            throw EReleaseFileError("the signature's mirror \"" + url.substr(0, 80) + "\" is refused: " + *problem);
}

// The lines of a signature file before its value, each ended by LF.
std::string SignatureLines(std::uint64_t Sequence, std::optional<std::int64_t> Expires,
                           const std::vector<std::string>& Mirrors)
{
    if (Sequence > static_cast<std::uint64_t>(INT64_MAX) || (Expires && *Expires < 0))
        throw EReleaseFileError("a sequence number or expiry time out of the range of a signature file");
    CheckMirrors(Mirrors);
    std::string lines = std::string(Mirrors.empty() ? ListSignatureHeader : MirrorSignatureHeader) + "\nsequence " +
                        std::to_string(Sequence) + "\nexpires " + (Expires ? std::to_string(*Expires) : "never") + "\n";
    for (const std::string& url : Mirrors)
        lines += "mirror " + url + "\n";
    return lines;
}

constexpr std::string_view MirrorLinePrefix = "mirror ";

// The header of signature files of format 1, which signed list.txt alone.
constexpr std::string_view OldSignatureHeader = "QMSIG 1 ";

} // namespace

TPublicKey ReadPublicKey(std::string_view Text)
{
    return ReadTwoLines<64>(Text, PublicKeyHeader, "public key");
}

TPrivateKey ReadPrivateKey(std::string_view Text)
{
    return ReadTwoLines<96>(Text, PrivateKeyHeader, "private key");
}

TListSignature ReadListSignature(std::string_view Text)
{
    const std::optional<std::string_view> header = NextLine(Text);
    if (header && header->starts_with(OldSignatureHeader))
        throw EReleaseFileError("the list was signed by an older qmpack (signature format 1): the publisher must "
                                "sign it again with this qmpack");
    const bool mirrors = header && *header == MirrorSignatureHeader;
    if (!mirrors)
        ExpectHeader(header, ListSignatureHeader, "signature");
    TListSignature signature;
    signature.Sequence = static_cast<std::uint64_t>(*NumberLine(NextLine(Text), "sequence", false, "second"));
    signature.Expires = NumberLine(NextLine(Text), "expires", true, "third");
    std::optional<std::string_view> line = NextLine(Text);
    while (mirrors && line && line->starts_with(MirrorLinePrefix) && signature.Mirrors.size() <= MaxSignedMirrors) {
        signature.Mirrors.emplace_back(line->substr(MirrorLinePrefix.size()));
        line = NextLine(Text);
    }
    if (mirrors && signature.Mirrors.empty())
        throw EReleaseFileError("the signature file's fourth line is not \"mirror\" and a base URL");
    CheckMirrors(signature.Mirrors);
    const std::size_t last = 4 + signature.Mirrors.size();
    const std::string ordinal = last == 4 ? "fourth" : "last";
    signature.Signature = HexValue<64>(line, "signature", ordinal.c_str());
    ExpectEnd(Text, "signature", mirrors ? std::to_string(last).c_str() : "four");
    return signature;
}

std::uint64_t ReadKeptSequence(std::string_view Text)
{
    ExpectHeader(NextLine(Text), SequenceHeader, "kept sequence");
    const std::int64_t sequence = *NumberLine(NextLine(Text), "sequence", false, "second");
    ExpectEnd(Text, "kept sequence", "two");
    return static_cast<std::uint64_t>(sequence);
}

std::string FormatKeptSequence(std::uint64_t Sequence)
{
    if (Sequence > static_cast<std::uint64_t>(INT64_MAX))
        throw EReleaseFileError("a sequence number out of the range of a kept sequence file");
    return std::string(SequenceHeader) + "\nsequence " + std::to_string(Sequence) + "\n";
}

std::string FormatPublicKey(const TPublicKey& Key)
{
    return TwoLines(PublicKeyHeader, Key);
}

std::string FormatPrivateKey(const TPrivateKey& Key)
{
    return TwoLines(PrivateKeyHeader, Key);
}

std::string FormatListSignature(const TListSignature& Signature)
{
    return SignatureLines(Signature.Sequence, Signature.Expires, Signature.Mirrors) + HexText(Signature.Signature) +
           "\n";
}

std::string SignedListData(std::string_view List, std::uint64_t Sequence, std::optional<std::int64_t> Expires,
                           const std::vector<std::string>& Mirrors)
{
    return SignatureLines(Sequence, Expires, Mirrors) + std::string(List);
}

std::optional<std::string> MirrorURLProblem(std::string_view URL)
{
    if (URL.size() > MaxMirrorURLSize)
        return "it is longer than " + std::to_string(MaxMirrorURLSize) + " bytes";
    if (std::any_of(URL.begin(), URL.end(), [](char C) { return C <= ' ' || C >= 0x7F; }))
        return std::string("it holds a space, a control character or a byte outside ASCII");
    const std::size_t scheme = URL.starts_with("http://") ? 7 : URL.starts_with("https://") ? 8 : 0;
    if (scheme == 0)
        return std::string("it does not start with http:// or https://");
    if (URL.size() == scheme || URL[scheme] == '/')
        return std::string("it names no host");
    if (!URL.ends_with('/'))
        return std::string("it does not end with /");
    return std::nullopt;
}

std::optional<std::int64_t> SignatureNumber(std::string_view Text)
{
    std::int64_t value = 0;
    const char* end = Text.data() + Text.size();
    if (Text.empty() || Text[0] < '0' || Text[0] > '9' || (Text[0] == '0' && Text.size() > 1))
        return std::nullopt;
    const auto [stop, error] = std::from_chars(Text.data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

TPublicKey PublicKeyOf(const TPrivateKey& Key)
{
    TPublicKey key{};
    std::copy_n(Key.begin(), key.size(), key.begin());
    return key;
}

} // namespace qm
