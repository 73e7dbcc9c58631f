#include "app/RunLogText.h"

namespace qm {

std::string CleanLogText(std::string_view Text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string clean;
    clean.reserve(Text.size());
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n')
            clean += ' ';
        else if (byte < 0x20 || byte == 0x7F)
            ((clean += "\\x") += Hex[byte >> 4]) += Hex[byte & 0xF];
        else
            clean += c;
    }
    return clean;
}

std::string NetText(std::string_view Text)
{
    if (Text.size() <= MaxNetTextInLog)
        return std::string(Text);
    return std::string(Text.substr(0, MaxNetTextInLog)) + "...";
}

std::string SafeURL(std::string_view URL)
{
    const std::size_t scheme = URL.find("://");
    const std::size_t from = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t at = URL.substr(0, URL.find_first_of("?#", from)).rfind('@');
    if (at == std::string_view::npos || at < from)
        return std::string(URL);
    return std::string(URL.substr(0, from)) + std::string(URL.substr(at + 1));
}

} // namespace qm
