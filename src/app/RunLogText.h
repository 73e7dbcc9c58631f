// The texts of the download log's lines (RunLog.h), portable: a line made
// safe to show in a terminal or an editor, a network text cut to its share
// of a line, and a URL without the credentials it may carry. No state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// At most this many bytes of one text a server or a list sent go into a line.
inline constexpr std::size_t MaxNetTextInLog = 200;

// Text as one log line: CR and LF become blanks, every other byte below 32
// and byte 127 become "\xNN" (two upper-case hex digits), so that no escape
// sequence reaches a terminal and no line can be faked; "\" stays as it is.
std::string CleanLogText(std::string_view Text);

// Text from the network (a reason phrase, a Retry-After value, a name from
// the list): its first MaxNetTextInLog bytes, then "..." when it was longer.
std::string NetText(std::string_view Text);

// URL without a user name and password. A password may hold "/" (and "@"),
// so everything between the scheme's "://" and the last "@" before the
// first "?" or "#" is dropped: no part of a credential remains, at the cost
// of a path with "@" in it losing what comes before that "@".
std::string SafeURL(std::string_view URL);

} // namespace qm
