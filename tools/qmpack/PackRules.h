// The rules qmpack holds a release set to before it writes or accepts one,
// beyond the loader's own (release/ListRules.h): fields that would split a
// list line, names safe in a URL, a target that is its own download, sizes
// within 32 bits, names used twice.
#pragma once

#include "release/ListLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::pack {

using qm::TListLine;
using qm::SplitFields;
using qm::SplitListText;

// ---- rules, each giving the problem as a sentence, or nothing when kept ----

// A field must not hold TAB, CR or LF (they would split the list line).
std::optional<std::string> CheckField(std::string_view What, std::string_view Value);

// RemoteName becomes part of a URL and the name of a file in the download
// directory: the loader's rule (qm::CheckRemoteName; the target path's is
// qm::CheckTargetPath, used as it is), and moreover only
// letters, digits, '.', '_' and '-', not starting with '.'.
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
