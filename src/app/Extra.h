// File utilities of the program. No state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The file name of Path: the part after its last "\" or ":" ("a:\x\Disk2.id"
// gives "Disk2.id"; a path that ends in "\" gives "").
std::string FileNameOf(std::string_view Path);

// The file name of Path (the part after its last "\" or ":"), cut before its
// first ".": "a:\x\Disk2.id" gives "Disk2", "README" itself, ".profile" "".
std::string FileBaseName(std::string_view Path);

// Name inside the folder Folder: Folder + "\" + Name, without a second "\"
// when Folder already ends in one (a drive root "C:\", a share root). The
// leading "\\" of a network path stays.
std::string PathInFolder(std::string_view Folder, std::string_view Name);

#ifdef _WIN32
// Copies the file Source to Dest. With FailIfExists an existing Dest makes the
// copy fail; otherwise Dest is overwritten. True on success.
bool CopyFileTo(const std::string& Source, const std::string& Dest, bool FailIfExists);

// Puts the file Temporary in place of Target, replacing a file there, so that
// the placed file carries Target's name in its own letter case: a file whose
// name differs only in letter case is moved aside first and put back when
// the new one cannot take its place. Nothing on success; otherwise a message
// that names Target (in use by another program, not replaceable, a folder in
// its place, a folder that does not exist, a path too long); Temporary then
// stays where it was. A Temporary on another volume than Target is first
// copied beside Target (TemporaryName(Target)), which then takes its place
// or is deleted; Temporary goes once Target holds its bytes.
std::optional<std::string> ReplaceFileWith(const std::string& Temporary, const std::string& Target);

// The message for an Error (GetLastError) that says Path cannot be reached:
// its folder does not exist, or it is longer than Windows allows; nothing
// for any other error.
std::optional<std::string> PathFailureText(unsigned long Error, const std::string& Path);

// Whether the system error Error (GetLastError) says that a file could not
// be written: a full, failing or write-protected disk.
bool IsWriteFailure(unsigned long Error);

// Deletes the files directly in Dir (not in its subfolders), then Dir
// itself if it is empty by then; what cannot go stays, silently.
void DeleteFilesIn(const std::string& Dir);

// The process's current folder in the ANSI code page. False when its name
// has characters that code page lacks: Folder then holds the name with "?"
// in their place, a path no ANSI call can open.
bool CurrentFolderAnsi(std::string& Folder);
#endif

} // namespace qm
