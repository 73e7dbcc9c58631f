#include "http/HttpProtText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace qm {
namespace {

constexpr std::string_view DayNames = "MonTueWedThuFriSatSun";
constexpr std::string_view MonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::string_view Base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool StartsWithNoCase(std::string_view s, std::string_view lowerPrefix)
{
    return s.size() >= lowerPrefix.size() &&
           std::ranges::equal(s.substr(0, lowerPrefix.size()), lowerPrefix, [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

void SplitUserPart(std::string_view user, TUrlParts& parts)
{
    const std::size_t colon = user.find(':');
    parts.User = user.substr(0, colon);
    if (colon != std::string_view::npos)
        parts.Pass = user.substr(colon + 1);
}

// The last ":" and the last "@" decide: a colon behind the at sign starts the
// port, everything before the at sign is the user part.
void SplitAuthority(std::string_view authority, TUrlParts& parts)
{
    constexpr auto npos = std::string_view::npos;
    const std::size_t colon = authority.rfind(':');
    const std::size_t at = authority.rfind('@');
    const std::size_t hostStart = at == npos ? 0 : at + 1;
    if (colon != npos && (at == npos || colon > at)) {
        parts.Port = authority.substr(colon + 1);
        parts.Host = authority.substr(hostStart, colon - hostStart);
    } else {
        parts.Host = authority.substr(hostStart);
    }
    if (at != npos)
        SplitUserPart(authority.substr(0, at), parts);
}

} // namespace

TUrlParts SplitURL(std::string_view URL)
{
    TUrlParts parts;
    std::string_view rest = URL;
    // A "://" behind a "/", "?" or "#" is part of a relative reference's path,
    // query or fragment, not the end of a scheme.
    if (const std::size_t scheme = URL.find("://"); scheme != std::string_view::npos &&
                                                    scheme < URL.find_first_of("/?#")) {
        parts.Proto = URL.substr(0, scheme);
        rest = URL.substr(scheme + 3);
    } else if (StartsWithNoCase(URL, "mailto:")) {
        parts.Proto = "mailto";
        rest = URL.substr(7);
    }
    const std::size_t slash = rest.find('/');
    if (slash != std::string_view::npos)
        parts.Path = rest.substr(slash);
    SplitAuthority(rest.substr(0, slash), parts);
    return parts;
}

std::string EncodePathSegment(std::string_view Name)
{
    static constexpr std::string_view Kept = "-._~!$&'()*+,;=@";
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : Name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || Kept.find(c) != Kept.npos)
            encoded += c;
        else
            ((encoded += '%') += Hex[byte >> 4]) += Hex[byte & 0xF];
    }
    return encoded;
}

std::string EncodeBase64(std::string_view S)
{
    std::string out;
    out.reserve((S.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < S.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, S.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(S[i + k]) : 0u);
        // n bytes fill n + 1 characters; "=" pads the rest of the four.
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? Base64Alphabet[group >> (18 - 6 * k) & 0x3Fu] : '=';
    }
    return out;
}

std::string FormatHttpDate(TDateTime D)
{
    const DateTimeFields f = DecodeDateTime(D);
    // DayOfWeek counts from Sunday = 1; the table starts on Monday.
    const auto day = static_cast<std::size_t>((f.DayOfWeek + 5) % 7);
    const std::string month(MonthNames.substr(static_cast<std::size_t>(f.Month - 1) * 3, 3));
    char text[64];
    std::snprintf(text, sizeof text, "%2.2d %s %4.4d %2.2d:%2.2d:%2.2d", f.Day, month.c_str(),
                  f.Year, f.Hour, f.Minute, f.Second);
    return std::string(DayNames.substr(day * 3, 3)) + ", " + text;
}

void ReplaceExt(std::string& FileName, std::string_view Ext)
{
    const std::size_t dot = FileName.rfind('.');
    if (dot == std::string::npos)
        FileName += '.';
    else
        FileName.erase(dot + 1);
    FileName += Ext;
}

std::size_t LastPos(char C, std::string_view S)
{
    const std::size_t p = S.rfind(C);
    return p == std::string_view::npos ? 0 : p + 1;
}

} // namespace qm
