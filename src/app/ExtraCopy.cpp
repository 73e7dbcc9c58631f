#include "app/Extra.h"

#include "base/ExtraStr.h"

#include <windows.h>

namespace qm {
namespace {

std::string ReplaceFailure(DWORD Error, const std::string& Target)
{
    if (std::optional<std::string> unreachable = PathFailureText(Error, Target))
        return *unreachable;
    if (Error == ERROR_SHARING_VIOLATION || Error == ERROR_LOCK_VIOLATION)
        return "The file is in use by another program and cannot be replaced: " + Target;
    // A running program or a loaded library is refused so, as is a
    // read-only file.
    if (Error == ERROR_ACCESS_DENIED)
        return "The file is in use or protected and cannot be replaced: " + Target;
    if (IsWriteFailure(Error))
        return "The disk is full or cannot be written: " + Target;
    return "Cannot replace the file (error #" + std::to_string(Error) + "): " + Target;
}

// Target, found under a name of another letter case, replaced by Temporary
// under Target's own: the old file waits under a name no list can give.
std::optional<std::string> ReplaceRenamed(const std::string& Temporary, const std::string& Target, const char* OldName)
{
    const std::string aside = Temporary + ".aside.qm-part";
    if (!MoveFileExA(Target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING))
        return ReplaceFailure(GetLastError(), Target);
    if (MoveFileExA(Temporary.c_str(), Target.c_str(), 0)) {
        DeleteFileA(aside.c_str());
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    const std::string old = Target.substr(0, Target.size() - FileNameOf(Target).size()) + OldName;
    MoveFileExA(aside.c_str(), old.c_str(), 0);
    return ReplaceFailure(error, Target);
}

} // namespace

bool CopyFileTo(const std::string& Source, const std::string& Dest, bool FailIfExists)
{
    return CopyFileA(Source.c_str(), Dest.c_str(), FailIfExists ? TRUE : FALSE) != FALSE;
}

std::optional<std::string> ReplaceFileWith(const std::string& Temporary, const std::string& Target)
{
    // Most targets are new: one move finds that out without a look-up first
    // (each look-up of a missing name reads the whole folder on some file
    // systems, and a folder of thousands of files made every file slower).
    if (MoveFileExA(Temporary.c_str(), Target.c_str(), 0))
        return std::nullopt;
    if (const DWORD error = GetLastError(); error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS &&
                                            error != ERROR_ACCESS_DENIED)
        return ReplaceFailure(error, Target);
    const std::string name = FileNameOf(Target);
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA(Target.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return "A folder stands where the file belongs: " + Target;
        // Held open by a program that shares no deletion: asking for delete
        // access finds it before anything is moved.
        const HANDLE probe = CreateFileA(Target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
            return ReplaceFailure(GetLastError(), Target);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        // Replacing keeps the old name's letter case: "VCL30.DPL" would stay.
        // So the old file is moved aside (never deleted before the new one is
        // in place) and comes back if the new one cannot be moved.
        if (name != found.cFileName && TextEquals(name, found.cFileName))
            return ReplaceRenamed(Temporary, Target, found.cFileName);
    }
    if (MoveFileExA(Temporary.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return std::nullopt;
    return ReplaceFailure(GetLastError(), Target);
}

std::optional<std::string> PathFailureText(unsigned long Error, const std::string& Path)
{
    if (Error == ERROR_PATH_NOT_FOUND)
        return "The folder for the file does not exist: " + Path;
    if (Error == ERROR_FILENAME_EXCED_RANGE)
        return "The path of the file is longer than Windows allows: " + Path;
    return std::nullopt;
}

bool IsWriteFailure(unsigned long Error)
{
    return Error == ERROR_DISK_FULL || Error == ERROR_HANDLE_DISK_FULL || Error == ERROR_WRITE_FAULT ||
           Error == ERROR_WRITE_PROTECT;
}

} // namespace qm
