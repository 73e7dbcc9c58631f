#include "app/Extra.h"

#include "base/ExtraStr.h"
#include "release/ListRules.h"

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

// A step that failed: the system's error, from which the message comes,
// or the message itself.
struct TReplaceFault {
    DWORD Error = 0;
    std::string Message;
};

TReplaceFault Fault(DWORD Error)
{
    return {Error, {}};
}

// Target, found under a name of another letter case, replaced by Temporary
// under Target's own: the old file waits under a name no list can give.
std::optional<TReplaceFault> ReplaceRenamed(const std::string& Temporary, const std::string& Target,
                                            const char* OldName)
{
    const std::string aside = Target + ".aside" + std::string(TemporarySuffix);
    if (!MoveFileExA(Target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Fault(GetLastError());
    if (MoveFileExA(Temporary.c_str(), Target.c_str(), 0)) {
        DeleteFileA(aside.c_str());
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    const std::string old = Target.substr(0, Target.size() - FileNameOf(Target).size()) + OldName;
    MoveFileExA(aside.c_str(), old.c_str(), 0);
    return Fault(error);
}

// ReplaceFileWith without the carrying over: a Temporary on another volume
// fails with ERROR_NOT_SAME_DEVICE, Target as it was.
std::optional<TReplaceFault> ReplaceOnVolume(const std::string& Temporary, const std::string& Target)
{
    // Most targets are new: one move finds that out without a look-up first
    // (each look-up of a missing name reads the whole folder on some file
    // systems, and a folder of thousands of files made every file slower).
    if (MoveFileExA(Temporary.c_str(), Target.c_str(), 0))
        return std::nullopt;
    if (const DWORD error = GetLastError(); error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS &&
                                            error != ERROR_ACCESS_DENIED)
        return Fault(error);
    const std::string name = FileNameOf(Target);
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA(Target.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return TReplaceFault{0, "A folder stands where the file belongs: " + Target};
        // Held open by a program that shares no deletion: asking for delete
        // access finds it before anything is moved.
        const HANDLE probe = CreateFileA(Target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
            return Fault(GetLastError());
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
    return Fault(GetLastError());
}

// What the user reads of a failed step; nothing when it did not fail.
std::optional<std::string> FaultText(const std::optional<TReplaceFault>& Fault, const std::string& Target)
{
    if (!Fault)
        return std::nullopt;
    return Fault->Message.empty() ? ReplaceFailure(Fault->Error, Target) : Fault->Message;
}

} // namespace

bool CopyFileTo(const std::string& Source, const std::string& Dest, bool FailIfExists)
{
    return CopyFileA(Source.c_str(), Dest.c_str(), FailIfExists ? TRUE : FALSE) != FALSE;
}

std::optional<std::string> ReplaceFileWith(const std::string& Temporary, const std::string& Target)
{
    std::optional<TReplaceFault> fault = ReplaceOnVolume(Temporary, Target);
    if (!fault || fault->Error != ERROR_NOT_SAME_DEVICE)
        return FaultText(fault, Target);
    // A move cannot cross volumes, and a copy to Target itself could be cut
    // short: the bytes go to a temporary beside Target first, which then
    // takes Target's place in one move.
    const std::string beside = TemporaryName(Target);
    if (!CopyFileTo(Temporary, beside, false)) {
        fault = Fault(GetLastError());
        DeleteFileA(beside.c_str());
        return FaultText(fault, Target);
    }
    fault = ReplaceOnVolume(beside, Target);
    DeleteFileA((fault ? beside : Temporary).c_str());
    return FaultText(fault, Target);
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
