// Text routines of the HTTP client: taking a URL apart, the Basic
// authorization value, the If-Modified-Since date and renaming a document.
// No state; positions are 1-based, 0 meaning "none".
#pragma once

#include "base/DateTime.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// The parts of a URL, each empty when absent. Nothing is validated or
// decoded: the scheme may be anything, the port stays text, escapes stay.
struct TUrlParts {
    std::string Proto;
    std::string User;
    std::string Pass;
    std::string Host;
    std::string Port;
    std::string Path; // from the first "/" of the authority on, query included

    bool operator==(const TUrlParts&) const = default;
};

// [Proto "://"] [User [":" Pass] "@"] Host [":" Port] [Path], or
// "mailto:" User "@" Host (the scheme in any case). Proto is what precedes
// the first "://" only when no "/", "?" or "#" comes before it; otherwise the
// URL has no scheme (a relative reference such as "/a?from=http://b"). The
// last ":" and the last "@" of the authority split it, the first ":" of the
// user part splits the password off, so a password may hold ":" and a user
// part may hold "@".
TUrlParts SplitURL(std::string_view URL);

// Name as one segment of a URL's path: every byte but letters, digits and
// -._~!$&'()*+,;=@ becomes "%XX" (upper-case hex), so that a blank, "#",
// "%", "?", "/" or a byte of 128 and up asks for the resource Name names.
std::string EncodePathSegment(std::string_view Name);

// Standard base64 (RFC 2045) of the bytes of S, "=" padded, no line breaks.
std::string EncodeBase64(std::string_view S);

// "Fri, 02 Jan 1998 03:04:05": no zone name, no zone conversion, milliseconds
// dropped. Meant for dates from 1 January 1900 on; a value outside the years
// 1 to 9999 raises qm::Exception.
std::string FormatHttpDate(TDateTime D);

// Replaces what follows the last "." of FileName by Ext, or appends "." Ext
// when FileName has no ".".
void ReplaceExt(std::string& FileName, std::string_view Ext);

// Position of the last C in S, 0 when S holds none.
std::size_t LastPos(char C, std::string_view S);

} // namespace qm
