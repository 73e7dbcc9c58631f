// The rules by which the download run reads one line of list.txt: its
// TAB-separated fields, the placeholders of the target path, the numbers,
// the RemoteName that may name a file in the download directory, and when a
// target found on disk makes the row complete. No state, no Windows: the
// caller looks at the disk and fills the list view (LoaderRun.cpp).
//
// Fields (numbered from 0, taken with GetField, a missing one empty; a line
// without any TAB has an empty field 0 as well): 0 DisplayName,
// 1 DownloadSize, 2 InstalledSize, 3 RemoteName, 4 TargetPath,
// 5 CompressedFlag; later fields are carried along unused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view ListSeparator = "\t";

// The value of a decimal integer (an optional sign and digits, nothing else)
// that fits 32 bits.
std::optional<std::int32_t> DecimalValue(std::string_view Text);

// Whether Name is a plain file name, which keeps a file named by it inside
// its directory: not empty, not "." or "..", no "\", "/" or ":", and no
// device name (NUL, COM1.txt, ...).
bool IsPlainFileName(std::string_view Name);

// TargetPath with the first "{sys}" replaced by SystemDir, then the first
// "{prog}" by DownloadDir (letter case significant).
std::string ResolveTargetPath(std::string TargetPath, std::string_view SystemDir, std::string_view DownloadDir);

// One line as the download run reads it.
struct TListEntry {
    std::string DisplayName;
    std::string DownloadSize;                 // shown as it is
    std::optional<std::int32_t> InstalledSize; // none: not a decimal integer
    std::string RemoteName;
    std::string TargetPath; // resolved
    // The line as FileList keeps it: field 4 replaced by TargetPath when the
    // line has a field 4, otherwise the line unchanged.
    std::string Stored;
};

TListEntry ReadListLine(const std::string& Line, std::string_view SystemDir, std::string_view DownloadDir);

// Whether a row is complete, judged by what was found at its target: the
// name and byte size of the first match, or nothing. "vcl30.dpl" (exactly)
// counts as size 0, nothing found as -1. The setup files (SETUP.INI,
// SETUP.PKG, any letter case) are never complete but count towards
// CompleteAtLoad (Counted) when their size matches.
struct TCompleteness {
    bool Complete = false;
    bool Counted = false;
};

TCompleteness JudgeTarget(const std::optional<std::string>& FoundName, std::int64_t FoundSize,
                          std::int32_t InstalledSize);

#ifdef _WIN32
// JudgeTarget for the first file (or directory) matching Target, which may
// hold wildcards (FileListDisk.cpp).
TCompleteness JudgeTargetOnDisk(const std::string& Target, std::int32_t InstalledSize);
#endif

} // namespace qm
