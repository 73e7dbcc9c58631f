// The demo release set's setup program. The loader starts it from the
// download directory ("Install QM"); it reads list.txt beside itself,
// resolves each target as the loader does ({sys}, {prog}) and shows in one
// message box which targets are in place with their listed size.
#include "PackRules.h"
#include "base/ExtraStr.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Folder(const std::string& Path)
{
    return Path.substr(0, Path.find_last_of('\\'));
}

std::string Report(const std::string& Dir)
{
    std::ifstream in(Dir + "\\list.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string report;
    int inPlace = 0, lines = 0;
    for (const std::string& line : qm::pack::SplitListText(text.str())) {
        const std::vector<std::string> f = qm::pack::SplitFields(line);
        if (f.size() < 5)
            continue;
        std::string target = f[4];
        qm::ReplaceFirst(target, "{sys}", std::string(windows) + "\\system");
        qm::ReplaceFirst(target, "{prog}", Dir);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool found = GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data) != 0;
        const bool ok = found && std::to_string(data.nFileSizeLow) == f[2] && data.nFileSizeHigh == 0;
        inPlace += ok ? 1 : 0;
        ++lines;
        report += (ok ? "OK       " : "MISSING  ") + f[0] + "  (" + f[2] + " bytes)\r\n      " + target + "\r\n";
    }
    return std::to_string(inPlace) + " of " + std::to_string(lines) + " files in place:\r\n\r\n" + report;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    MessageBoxA(nullptr, Report(Folder(self)).c_str(), "Quillmark Veldra Setup (demo)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
