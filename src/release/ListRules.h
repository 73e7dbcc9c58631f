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
#include <vector>

namespace qm {

// Why Name cannot name a file inside a folder as it is written, or nothing.
// The answer is a clause whose subject is the quoted name, e.g. "\"x.\" ends
// in a dot or a space, which Windows drops from a name". Refused: an empty
// name, "." and "..", a "\" or "/", a control character, a ":" (a drive or a
// stream), a last character that is a dot or a space (Windows drops them,
// so "list.txt." would open list.txt), a device name (IsDeviceName), and a
// temporary's name in any of its spellings.
std::optional<std::string> CheckFileName(std::string_view Name);

// Whether CheckFileName accepts Name.
bool IsPlainFileName(std::string_view Name);

// Half-written files carry this ending until they are checked and renamed
// to their final name; no list line may name a file that ends in it.
inline constexpr std::string_view TemporarySuffix = ".qm-part";

std::string TemporaryName(std::string_view Path);
// Whether the file name at the end of Path ends in TemporarySuffix, in any
// letter case and with any dots and spaces behind it (Windows compares and
// trims names so).
bool IsTemporaryName(std::string_view Path);

// Why Name cannot be a RemoteName, or nothing: "the remote name " and the
// CheckFileName clause, a "~" followed by a digit (on a volume with short
// names "LISTTX~1.SIG" may be another file's short name, here the
// signature's), a character Windows refuses in a file name (< > " | ? *), or the name of the list, its signature or the kept
// sequence (all lie in the download directory beside the downloads).
std::optional<std::string> CheckRemoteName(std::string_view Name);

// Why Path cannot be a target path, or nothing: "the target path \"...\": "
// and the CheckFileName clause of its first bad part. Parts lie between "\"
// and "/"; a drive ("C:") may begin the path, empty parts (a network path's
// "\\") and "." or ".." may come before the file name, which must pass
// CheckFileName. Placeholders are checked as written: give the resolved
// path to judge what reaches the file system.
std::optional<std::string> CheckTargetPath(std::string_view Path);
// CheckTargetPath for a target path as a list writes it, which moreover must
// have no part with "~" and a digit (see CheckRemoteName). The folders of
// this computer that placeholders stand for may (short names are common
// there), so a resolved path is judged by CheckTargetPath alone.
std::optional<std::string> CheckListedTargetPath(std::string_view Path);

// Why a line cannot be downloaded and placed, or nothing: its installed
// size is not a number, its RemoteName is refused, or its target path Target
// (the line's TargetPath resolved, or as listed) is refused, or its
// TargetPath as listed has a part with "~" and a digit. LineNumber
// (1-based) goes into the message.
std::optional<std::string> CheckListLine(const TListLine& Line, std::string_view Target, int LineNumber);

// The longest path the program's ANSI file calls take (MAX_PATH less its
// terminating zero).
inline constexpr std::size_t MaxPathLength = 259;

// Why a line whose checks (CheckListLine) passed cannot be placed on this
// computer, or nothing: its resolved target Target, or the download of its
// RemoteName in DownloadDir, is longer than MaxPathLength with
// TemporarySuffix behind it, or Target names one of the files the program
// keeps (KeptFiles, full paths), in any letter case and any spelling of "."
// and "..". LineNumber (1-based) goes into the message.
std::optional<std::string> CheckLinePlace(const TListLine& Line, std::string_view Target, std::string_view DownloadDir,
                                          const std::vector<std::string>& KeptFiles, int LineNumber);

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
// Whether a file of Size bytes just written for TargetPath may be put in
// place: Size is the listed installed size Installed, or the file is a
// "vcl30.dpl" listed 0 (any size); Installed -1 or none asks for no size.
bool PlacedSizeFits(std::string_view TargetPath, std::int64_t Size, std::optional<std::int32_t> Installed);

// The largest file that may be written for a row's target: its installed
// size Installed; none when any size may be placed (Installed -1 or none, or
// a "vcl30.dpl" listed 0). The decoder stops there (TLzhD::OutputLimit).
std::optional<std::int64_t> PlacedSizeLimit(std::string_view TargetPath, std::optional<std::int32_t> Installed);

// What loading finds at a row's target (the log names it).
enum class TTargetFinding : std::uint8_t {
    Missing,      // nothing there, where the list gives a size
    OtherSize,    // a file of another size (or any file where -1 asks for none)
    SizeOnly,     // the listed size, and the line carries no installed hash
    ToHash,       // the listed size; its SHA-256 decides (JudgeContent)
    SameContent,  // the listed size and installed SHA-256
    OtherContent, // the listed size, but another SHA-256 (or unreadable)
    NothingThere, // -1 listed and nothing there
    SetupFile,    // SETUP.INI or SETUP.PKG with the listed size: fetched anyway
};

// Whether a row is complete, judged by what was found at its target: the
// name and byte size of the first match, or nothing (counted as -1). The
// setup files (SETUP.INI, SETUP.PKG, any letter case) are never complete but
// count towards CompleteAtLoad (Counted) when their size matches. A line
// with an installed hash (field 7) is complete only once the target's bytes
// have that SHA-256: with the listed size it is ToHash, neither complete nor
// counted until JudgeContent has the digest.
struct TCompleteness {
    bool Complete = false;
    bool Counted = false;
    TTargetFinding Finding = TTargetFinding::Missing;
    std::int64_t FoundSize = -1; // -1: nothing found
    std::string FoundPath;      // JudgeTargetOnDisk: the file found, to hash
};

TCompleteness JudgeTarget(const std::optional<std::string>& FoundName, std::int64_t FoundSize,
                          std::int32_t InstalledSize, const TListHash& InstalledHash = {});

// A ToHash target judged by Found, the SHA-256 of its bytes (none when they
// could not be read): complete and counted exactly when it is Listed's.
TCompleteness JudgeContent(TCompleteness Sized, const std::optional<TSha256Digest>& Found, const TListHash& Listed);

#ifdef _WIN32
// JudgeTarget for the first file (or directory) matching Target, which may
// hold wildcards (FileListDisk.cpp).
TCompleteness JudgeTargetOnDisk(const std::string& Target, std::int32_t InstalledSize,
                                const TListHash& InstalledHash = {});
#endif

} // namespace qm
