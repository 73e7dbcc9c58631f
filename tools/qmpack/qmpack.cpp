// qmpack: builds and checks the release sets the loader downloads.
// See CommandLine.h for the commands, Manifest.h for the manifest format.
//
// Exit status: 0 on success, 1 when the input was refused or a check failed,
// 2 on bad usage.
#include "CommandLine.h"
#include "Pack.h"
#include "Verify.h"

#include <cstdio>
#include <exception>

namespace {

using namespace qm::pack;

int PrintProblems(const std::vector<std::string>& Problems)
{
    for (const std::string& p : Problems)
        std::fprintf(stderr, "qmpack: %s\n", p.c_str());
    return Problems.empty() ? 0 : 1;
}

int Build(const std::string& Manifest, const std::string& OutDir)
{
    const TPackResult result = PackReleaseSet(Manifest, OutDir);
    if (PrintProblems(result.Errors) != 0)
        return 1;
    for (const TListLine& line : result.Lines)
        std::printf("%-14s %10lld -> %10lld %s  %s\n", line.RemoteName.c_str(),
                    static_cast<long long>(line.InstalledSize), static_cast<long long>(line.DownloadSize),
                    line.Compressed ? "lzh  " : "plain", line.TargetPath.c_str());
    std::printf("%zu files and list.txt written to %s\n", result.Lines.size(), OutDir.c_str());
    return 0;
}

int Verify(const std::string& Dir)
{
    const TVerifyReport report = VerifyReleaseSet(Dir);
    if (PrintProblems(report.Problems) != 0)
        return 1;
    std::printf("%s: %d lines verified\n", Dir.c_str(), report.Lines);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const TCommand command = ParseCommandLine({argv + 1, argv + argc});
    try {
        if (command.Name == "build")
            return Build(command.Operands[0], command.Operands[1]);
        if (command.Name == "verify")
            return Verify(command.Operands[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qmpack: %s\n", e.what());
        return 1;
    }
    std::fputs(UsageText().c_str(), stderr);
    return 2;
}
