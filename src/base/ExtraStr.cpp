#include "base/ExtraStr.h"

#include "base/Exception.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace qm {
namespace {

char Byte(unsigned value)
{
    return static_cast<char>(static_cast<unsigned char>(value & 0xFFu));
}

unsigned Code(char c)
{
    return static_cast<unsigned char>(c);
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int HexDigit(char c)
{
    static constexpr std::string_view Digits = "0123456789ABCDEF";
    const auto p = Digits.find(UpperAscii(c));
    return p == std::string_view::npos ? -1 : static_cast<int>(p);
}

// "%" and two hexadecimal digits stand for the byte they spell; a "%" near
// the end takes what is left (fewer digits).
std::string Unescape(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '%') {
            out += Byte(static_cast<std::uint32_t>(HexToInt(s.substr(i + 1, 2))));
            i += 3;
        } else {
            out += s[i++];
        }
    }
    return out;
}

// Each byte becomes its two's complement; an odd byte hides the byte after it.
std::string ComplementAndSkip(std::string_view t)
{
    std::string out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size();) {
        const unsigned c = Code(t[i]);
        out += Byte(256 - c);
        i += (c & 1u) ? 2 : 1;
    }
    return out;
}

// Where field N lies: the text before it ends at HeadEnd, the text after it
// starts at TailStart (0-based). The spans come from separator positions, so
// with overlapping separators TailStart may lie before HeadEnd.
struct FieldSpan {
    std::size_t HeadEnd;
    std::size_t TailStart;
};

std::optional<FieldSpan> FindField(std::string_view s, std::string_view sep, std::size_t n)
{
    // Each search starts one character after the start of the previous
    // separator, so field n ends at the (n+1)-th separator found.
    std::size_t prev = 0;
    std::size_t found = 0;
    for (std::size_t k = 0;;) {
        found = PosFrom(sep, s, prev + 1);
        ++k;
        if (k > n || found == 0) {
            if (found != 0)
                return FieldSpan{n == 0 ? 0 : prev - 1 + sep.size(), found - 1};
            if (k - 1 == n && n >= 1)
                return FieldSpan{prev - 1 + sep.size(), s.size()};
            return std::nullopt;
        }
        prev = found;
    }
}

} // namespace

std::int32_t HexToInt(std::string_view S)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t Min = std::numeric_limits<std::int32_t>::min();
    std::int64_t sum = 0;
    std::int64_t multiplier = 1;
    for (auto it = S.rbegin(); it != S.rend(); ++it) {
        sum += HexDigit(*it) * multiplier;
        multiplier *= 16;
        if (sum > Max || sum < Min || multiplier > Max)
            throw EIntOverflow();
    }
    return static_cast<std::int32_t>(sum);
}

std::string ReverseText(std::string_view S)
{
    return {S.rbegin(), S.rend()};
}

std::string DescrambleText(std::string_view S)
{
    return ReverseText(ComplementAndSkip(Unescape(S)));
}

std::string ScrambleText(std::string_view P)
{
    static constexpr std::string_view Hex = "0123456789ABCDEF";
    std::string out;
    std::size_t filler = 0;
    auto put = [&out](unsigned c) {
        if (c > 0x20 && c < 0x7F && c != '%') {
            out += Byte(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 0xFu];
        }
    };
    for (auto it = P.rbegin(); it != P.rend(); ++it) {
        const unsigned c = (256 - Code(*it)) & 0xFFu;
        put(c);
        // An odd byte hides the next one: any letter will do there.
        if (c & 1u)
            put('A' + static_cast<unsigned>(filler++ % 26));
    }
    return out;
}

bool TextEquals(std::string_view A, std::string_view B)
{
    return std::ranges::equal(A, B, [](char a, char b) { return UpperAscii(a) == UpperAscii(b); });
}

bool ReplaceFirst(std::string& S, std::string_view Find, std::string_view Replacement)
{
    const std::size_t p = PosFrom(Find, S, 1);
    if (p == 0)
        return false;
    S.replace(p - 1, Find.size(), Replacement);
    return true;
}

std::size_t PosFrom(std::string_view Sub, std::string_view S, std::size_t From)
{
    const std::size_t start = From == 0 ? 0 : From - 1;
    if (Sub.empty() || start > S.size())
        return 0;
    const std::size_t p = S.find(Sub, start);
    return p == std::string_view::npos ? 0 : p + 1;
}

std::string GetField(std::string_view S, std::string_view Sep, std::size_t N)
{
    const auto span = FindField(S, Sep, N);
    if (!span || span->TailStart <= span->HeadEnd)
        return {};
    return std::string(S.substr(span->HeadEnd, span->TailStart - span->HeadEnd));
}

bool ReplaceField(std::string& S, std::string_view Value, std::string_view Sep, std::size_t N)
{
    const auto span = FindField(S, Sep, N);
    if (!span)
        return false;
    std::string result = S.substr(0, span->HeadEnd);
    result += Value;
    result += std::string_view(S).substr(span->TailStart);
    S = std::move(result);
    return true;
}

std::string DropLast(std::string_view S, std::size_t N)
{
    return N > S.size() ? std::string() : std::string(S.substr(0, S.size() - N));
}

bool IsDeviceName(std::string_view Name)
{
    std::string base(Name.substr(0, Name.find('.')));
    // Windows looks past spaces before the extension ("CON .txt" is CON).
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
        return true;
    // COM1-9, LPT1-9, and with the superscript digits of the ANSI code page
    // ("\xB9", "\xB2", "\xB3"), which Windows takes for 1 to 3.
    const char digit = base.size() == 4 ? base[3] : '\0';
    return (base.starts_with("COM") || base.starts_with("LPT")) &&
           ((digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3');
}

} // namespace qm
