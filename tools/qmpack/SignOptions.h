// qmpack's signing options and the dates they name:
//
//   --sign PRIVATE     (build) write list.txt.sig with this key
//   --sequence N       (with --sign) the list's sequence number, 0 to 2^63-1;
//                      by default the current UTC time in seconds, so that a
//                      later signing gets a higher number
//   --expires DATE     (with --sign) YYYY-MM-DD: the list is valid to the end
//                      of that UTC day; by default it never expires
//   --mirror URL       (with --sign; again for each) a mirror's base URL,
//                      signed with the list; at most 8 (ReleaseFiles.h)
//   --key PUBLIC       (verify) also check list.txt.sig with this key
//
// Whether --sign and --key suit the subcommand is the caller's to judge.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::pack {

struct TSignOptions {
    std::optional<std::filesystem::path> SignKey;   // --sign
    std::optional<std::filesystem::path> VerifyKey; // --key
    std::optional<std::uint64_t> Sequence;          // --sequence
    std::optional<std::int64_t> Expires;            // --expires, as UTC seconds
    std::vector<std::string> Mirrors;               // --mirror, in order
    std::string Error; // set (and the rest unspecified) for a bad option
};

// The options above, anywhere after the subcommand, taken out of Args.
// Error is set when an option lacks its value, is given twice or has a
// malformed one, when --sequence, --expires or --mirror come without
// --sign, and for more mirrors, or a mirror, that a signature cannot carry.
TSignOptions TakeSignOptions(std::vector<std::string>& Args);

// The UTC seconds at which the day Date ("YYYY-MM-DD", a real day of the
// years 1970 to 9999) ends, i.e. the next day's 00:00 UTC; none for any
// other text.
std::optional<std::int64_t> EndOfUtcDay(std::string_view Date);

// Seconds since 1970-01-01 UTC as "YYYY-MM-DD HH:MM:SS UTC"; a time outside
// the years 1970 to 9999 as its number of seconds.
std::string UtcText(std::int64_t Seconds);

// The current UTC time in seconds since 1970-01-01.
std::int64_t UtcNow();

} // namespace qm::pack
