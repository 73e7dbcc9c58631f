// One line of a release set's list.txt, parsed once and formatted once: the
// loader, qmpack, the demo and the fuzz targets all read and write lines
// through this type.
//
// A line holds TAB-separated fields, numbered from 0:
//   0 DisplayName    caption of the row in the loader's list
//   1 DownloadSize   bytes of the file on the server, decimal
//   2 InstalledSize  bytes of the target once unpacked, decimal
//   3 RemoteName     file name under the server's base URL; also the name of
//                    the downloaded copy in the download directory
//   4 TargetPath     where the file is put; may hold "{sys}" and "{prog}"
//   5 CompressedFlag exactly "yes" when the file is in the LZH
//                    compressed-file format; anything else means plain
//   6 SHA-256        of the file as served, 64 hex digits (ListHash.h)
//   7 installed SHA-256  of the target once unpacked (for a plain file the
//                    same as field 6), written as field 6; empty or missing:
//                    the target is judged by its size alone
//   8...             carried along unused, so later versions can add fields
//
// A missing field is empty, and a line without any TAB has no fields at all
// (every field empty), as the loader has always read it.
//
// list.txt as text: lines end at CR LF, LF or a lone CR; a final line break
// adds no empty line; a 0 byte ends the text. Written lines end in CR LF.
#pragma once

#include "release/ListHash.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::string_view ListSeparator = "\t";

// The value of a decimal integer (an optional sign and digits, nothing else)
// that fits 32 bits.
std::optional<std::int32_t> DecimalValue(std::string_view Text);

// A size field: its text as listed (the loader shows the download size
// unchanged, and names a bad one in its message) and its value when that
// text is a decimal integer within 32 bits.
struct TListSize {
    std::string Text;
    std::optional<std::int32_t> Value;

    static TListSize Read(std::string_view Text) { return {std::string(Text), DecimalValue(Text)}; }
    static TListSize Of(std::int32_t Value) { return {std::to_string(Value), Value}; }
};

struct TListLine {
    std::string DisplayName;
    TListSize DownloadSize;
    TListSize InstalledSize;
    std::string RemoteName;
    std::string TargetPath; // as listed, placeholders unresolved
    bool Compressed = false;
    TListHash Sha256;               // field 6: absent, a digest, or malformed
    TListHash InstalledSha256;      // field 7, the same kinds
    std::vector<std::string> Extra; // fields 8 on
};

// Never fails: a line's problems are judged by the rules that use it.
TListLine ParseListLine(std::string_view Line);

// The line without its line break; field 5 is written "yes" or "no", fields
// 6 and later only up to the last that is not empty. Callers keep the fields free of TAB, CR
// and LF; this function does not check them.
std::string FormatListLine(const TListLine& Line);

// The lines of a list.txt text, without their line breaks.
std::vector<std::string> SplitListText(std::string_view Text);

// The TAB-separated fields of one line (at least one, possibly empty).
std::vector<std::string> SplitFields(std::string_view Line);

} // namespace qm
