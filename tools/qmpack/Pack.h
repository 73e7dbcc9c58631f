// Builds a release set: the files the server serves and their list.txt.
//
// For each manifest entry, in order: the source is LZH-compressed (TLzhD) or
// copied into OutDir under its remote name, and a list.txt line records the
// exact sizes (the download size of the file written, the installed size of
// the source). list.txt is written last, through a temporary file that is
// renamed, so a set whose packing failed never carries a new list.
//
// Errors: every problem of the manifest or its sources is collected first
// (each message names the manifest line) and nothing is written then; a
// failure while writing raises qm::Exception naming the file.
#pragma once

#include "PackRules.h"
#include "Manifest.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qm::pack {

struct TPackResult {
    std::vector<TListLine> Lines; // as written to list.txt
    std::vector<std::string> Errors; // non-empty: nothing was written
};

// ManifestPath: the manifest file; relative sources are found next to it.
TPackResult PackReleaseSet(const std::filesystem::path& ManifestPath, const std::filesystem::path& OutDir);

// The list.txt text for Lines (CR LF after every line).
std::string FormatListText(const std::vector<TListLine>& Lines);

} // namespace qm::pack
