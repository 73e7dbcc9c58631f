#include "CommandLine.h"

namespace qm::pack {
namespace {

struct TSubcommand {
    const char* Name;
    std::size_t Operands;
    const char* Usage;
};

constexpr TSubcommand Subcommands[] = {
    {"build", 2, "qmpack build MANIFEST OUTDIR   pack the files listed in MANIFEST into OUTDIR with its list.txt"},
    {"verify", 1, "qmpack verify DIR              check every line of DIR/list.txt against its files"},
    {"keygen", 2, "qmpack keygen PRIVATE PUBLIC   write a new release key pair (ReleaseSign.h)"},
};

} // namespace

TCommand ParseCommandLine(const std::vector<std::string>& Args)
{
    for (const TSubcommand& s : Subcommands)
        if (!Args.empty() && Args[0] == s.Name && Args.size() == s.Operands + 1)
            return {s.Name, {Args.begin() + 1, Args.end()}};
    return {};
}

std::string UsageText()
{
    std::string text = "usage:\n";
    for (const TSubcommand& s : Subcommands)
        text += std::string("  ") + s.Usage + "\n";
    text += "options: build --sign PRIVATE [--sequence N] [--expires YYYY-MM-DD] [--mirror URL ...]\n"
            "         writes list.txt.sig (with the mirrors' base URLs signed in it);\n"
            "         verify --key PUBLIC also checks it\n";
    return text;
}

} // namespace qm::pack
