#include "net/WSocketText.h"

#include "net/WSocketTypes.h"

namespace qm {

std::int32_t ParseLeadingNumber(std::string_view Text)
{
    std::size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    std::uint32_t value = 0;
    for (; i < Text.size() && Text[i] >= '0' && Text[i] <= '9'; ++i)
        value = value * 10U + static_cast<std::uint32_t>(Text[i] - '0');
    return static_cast<std::int32_t>(value);
}

std::string TrimText(std::string_view Text)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t first = 0;
    std::size_t last = Text.size();
    while (first < last && blank(Text[first]))
        ++first;
    while (last > first && blank(Text[last - 1]))
        --last;
    return std::string(Text.substr(first, last - first));
}

const char* SocketStateName(TSocketState State)
{
    switch (State) {
#define QM_STATE_NAME(name, value) \
    case name:                     \
        return #name;
        QM_SOCKET_STATES(QM_STATE_NAME)
#undef QM_STATE_NAME
    }
    return "?";
}

} // namespace qm
