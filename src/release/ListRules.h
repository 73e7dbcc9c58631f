// The rules by which a list line's files are named and judged: the
// RemoteName that may name a file in the download directory, the
// temporaries that no line can name, the placeholders of the target path,
// and when a file found at a target makes the row complete. No state, no
// Windows (the disk lookup is FileListDisk.cpp in the program).
#pragma once

#include "release/ListLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Whether Name is a plain file name, which keeps a file named by it inside
// its directory: not empty, not "." or "..", no "\", "/" or ":", and no
// device name (NUL, COM1.txt, ...).
bool IsPlainFileName(std::string_view Name);

// Half-written files carry this ending until they are checked and renamed
// to their final name; no list line may name a file that ends in it.
inline constexpr std::string_view TemporarySuffix = ".qm-part";

std::string TemporaryName(std::string_view Path);
// Whether the file name at the end of Path ends in TemporarySuffix (any
// letter case, as Windows compares names).
bool IsTemporaryName(std::string_view Path);

// Why Name cannot be a RemoteName, or nothing: it must be a plain file name,
// not a temporary's and not the list's or its signature's (all three lie
// in the download directory beside the downloads).
std::optional<std::string> CheckRemoteName(std::string_view Name);

// Why a line cannot be downloaded and placed, or nothing: its installed
// size is not a number, its RemoteName is refused, or its target names a
// temporary. LineNumber (1-based) goes into the message.
std::optional<std::string> CheckListLine(const TListLine& Line, int LineNumber);

// TargetPath with the first "{sys}" replaced by SystemDir, then the first
// "{prog}" by DownloadDir (letter case significant).
std::string ResolveTargetPath(std::string TargetPath, std::string_view SystemDir, std::string_view DownloadDir);

// The size the completeness rule sees for a file named Name of Size bytes:
// a file named exactly "vcl30.dpl" counts as 0.
std::int64_t CountedSize(std::string_view Name, std::int64_t Size);
// The same for a file of Size bytes placed at TargetPath (its name is the
// part after the last "\" or ":"): what a list must give as its installed
// size for the row to count as complete once placed.
std::int64_t CountedSizeAt(std::string_view TargetPath, std::int64_t Size);

// Whether a row is complete, judged by what was found at its target: the
// name and byte size of the first match, or nothing (counted as -1). The
// setup files (SETUP.INI, SETUP.PKG, any letter case) are never complete but
// count towards CompleteAtLoad (Counted) when their size matches.
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
