// One line of a release set's list.txt and the rules every line must keep.
//
// A line holds TAB-separated fields, in this order:
//   0 DisplayName    caption of the row in the loader's list
//   1 DownloadSize   bytes of the file on the server, decimal
//   2 InstalledSize  bytes of the target once unpacked, decimal
//   3 RemoteName     file name under the server's base URL; also the name of
//                    the downloaded copy in the download directory
//   4 TargetPath     where the file is put; may hold "{sys}" and "{prog}"
//   5 CompressedFlag "yes" when the file is in the LZH compressed-file format
// Fields after 5 (Extra) are written after field 5 in order; the loader
// carries them along unused, so later versions can add fields there.
//
// Lines end with CR LF when written. Read back, a line ends at CR LF, LF or a
// lone CR, a final line break adds no empty line, and a 0 byte ends the text,
// as the loader reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::pack {

struct TListLine {
    std::string DisplayName;
    std::int64_t DownloadSize = 0;
    std::int64_t InstalledSize = 0;
    std::string RemoteName;
    std::string TargetPath;
    bool Compressed = false;
    std::vector<std::string> Extra;
};

// The line without its line break. Callers keep the fields free of TAB, CR
// and LF (CheckField); this function does not check them.
std::string FormatListLine(const TListLine& Line);

// The lines of a list.txt as the loader splits them.
std::vector<std::string> SplitListText(std::string_view Text);

// The TAB-separated fields of one line (at least one, possibly empty).
std::vector<std::string> SplitFields(std::string_view Line);

// ---- rules, each giving the problem as a sentence, or nothing when kept ----

// A field must not hold TAB, CR or LF (they would split the list line).
std::optional<std::string> CheckField(std::string_view What, std::string_view Value);

// RemoteName becomes part of a URL and the name of a file in the download
// directory: a plain file name of letters, digits, '.', '_' and '-', not
// starting with '.', not a Windows device name (NUL, COM1.txt, ...) and not
// "list.txt" or "list.txt.sig".
std::optional<std::string> CheckRemoteName(std::string_view Name);

// A target "{prog}\NAME" lies in the download directory: when NAME is also a
// RemoteName of the set, the downloaded copy and the target are one file and
// unpacking it would destroy it. Names compare without letter case, as
// Windows file names do.
std::optional<std::string> CheckTargetAgainst(std::string_view TargetPath,
                                              const std::vector<std::string>& RemoteNames);

// The decimal value of a size field: digits only, within a signed 32-bit
// number (the loader and the compressed-file header hold sizes in 32 bits).
std::optional<std::int64_t> SizeValue(std::string_view Text);

// Windows file names compare without letter case.
bool SameFileName(std::string_view A, std::string_view B);

// The index of the first name before Names[I] that is the same file name,
// or nothing. Empty names are never duplicates.
std::optional<std::size_t> EarlierDuplicate(const std::vector<std::string>& Names, std::size_t I);

} // namespace qm::pack
