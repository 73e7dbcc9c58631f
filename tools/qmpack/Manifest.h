// The publisher's manifest: which files make a release set, and how.
//
// A text file, one file of the set per line, five fields separated by '|':
//
//   # display name  | source file         | remote name | target path         | compress
//   Setup program   | build/setup.exe     | setup.ex_   | {prog}\setup.exe    | yes
//   System library  | files/qmvldr.dll    | qmvldr.dll  | {sys}\qmvldr.dll    | no
//
// Blanks around each field are dropped. Empty lines and lines whose first
// non-blank character is '#' are ignored. A line may end in LF or CR LF.
// The source file is relative to the manifest's folder unless absolute.
// "compress" is "yes" (LZH-compress the file) or "no" (serve it as it is).
// The order of the lines is the order of list.txt.
//
// ParseManifest checks each line on its own (field count, TAB/CR characters,
// empty fields, the remote name, the compress word) and then the set as a
// whole (duplicate remote names, a {prog} target that is a downloaded copy).
// Whether the source files exist is checked by the packer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::pack {

struct TManifestEntry {
    int Line = 0; // 1-based line number in the manifest, for messages
    std::string DisplayName;
    std::string Source;
    std::string RemoteName;
    std::string TargetPath;
    bool Compressed = false;
};

struct TManifest {
    std::vector<TManifestEntry> Entries;
    // One message per problem, each "NAME:LINE: what is wrong"; the manifest
    // may be used only when this is empty.
    std::vector<std::string> Errors;
};

// Text is the manifest's content; Name is how messages call it (its path).
TManifest ParseManifest(std::string_view Text, const std::string& Name);

} // namespace qm::pack
