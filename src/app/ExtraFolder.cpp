#include "app/Extra.h"

#include <windows.h>

namespace qm {
namespace {

std::wstring CurrentFolderWide()
{
    std::wstring wide(MAX_PATH, L'\0');
    for (;;) {
        const DWORD count = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
        const bool fits = count < wide.size(); // else: the size needed, with the terminating 0
        wide.resize(count);
        if (fits)
            return wide;
    }
}

} // namespace

void DeleteFilesIn(const std::string& Dir)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((Dir + "\\*.*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((Dir + "\\" + entry.cFileName).c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(Dir.c_str());
}

bool CurrentFolderAnsi(std::string& Folder)
{
    const std::wstring wide = CurrentFolderWide();
    const int length = static_cast<int>(wide.size());
    // No best fit: a letter the code page lacks must not quietly become a
    // similar one and name another folder.
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, nullptr);
    Folder.assign(static_cast<std::size_t>(size), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, Folder.data(), size, nullptr, &lossy);
    return !lossy;
}

} // namespace qm
