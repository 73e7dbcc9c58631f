// qmpack: builds and checks the release sets the loader downloads.
// See CommandLine.h for the commands, Manifest.h for the manifest format.
//
// Exit status: 0 on success, 1 when the input was refused or a check failed,
// 2 on bad usage.
#include "CommandLine.h"
#include "Pack.h"
#include "ReleaseSign.h"
#include "SignOptions.h"
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
        std::printf("%-14s %10s -> %10s %s  %s\n", line.RemoteName.c_str(), line.InstalledSize.Text.c_str(),
                    line.DownloadSize.Text.c_str(),
                    line.Compressed ? "lzh  " : "plain", line.TargetPath.c_str());
    std::printf("%zu files and list.txt written to %s\n", result.Lines.size(), OutDir.c_str());
    return 0;
}

int Verify(const std::string& Dir, const std::optional<std::filesystem::path>& Key)
{
    TVerifyReport report = VerifyReleaseSet(Dir);
    TReleaseCheck check = CheckReleaseHashes(Dir, Key, UtcNow());
    if (check.Signature)
        std::printf("list.txt.sig: %s\n", DescribeSignature(*check.Signature).c_str());
    for (std::string& p : check.Problems)
        report.Problems.push_back(std::move(p));
    if (PrintProblems(report.Problems) != 0)
        return 1;
    std::printf("%s: %d lines verified\n", Dir.c_str(), report.Lines);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const TSignOptions options = TakeSignOptions(args);
    const TCommand command = ParseCommandLine(args);
    const bool optionsFit = options.Error.empty() && (!options.SignKey || command.Name == "build") &&
                            (!options.VerifyKey || command.Name == "verify");
    try {
        if (command.Name == "build" && optionsFit) {
            const int status = Build(command.Operands[0], command.Operands[1]);
            if (status == 0 && options.SignKey) {
                const qm::TListSignature s = SignReleaseSet(command.Operands[1], *options.SignKey,
                                                        options.Sequence.value_or(UtcNow()), options.Expires,
                                                            options.Mirrors);
                std::printf("list.txt.sig written: %s\n", DescribeSignature(s).c_str());
            }
            return status;
        }
        if (command.Name == "verify" && optionsFit)
            return Verify(command.Operands[0], options.VerifyKey);
        if (command.Name == "keygen" && optionsFit) {
            WriteKeyPair(command.Operands[0], command.Operands[1]);
            std::printf("private key %s (keep it secret), public key %s\n", command.Operands[0].c_str(),
                        command.Operands[1].c_str());
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qmpack: %s\n", e.what());
        return 1;
    }
    if (!options.Error.empty())
        std::fprintf(stderr, "qmpack: %s\n", options.Error.c_str());
    std::fputs(UsageText().c_str(), stderr);
    return 2;
}
