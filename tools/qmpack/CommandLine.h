// The qmpack command line: a subcommand and its operands.
//
//   qmpack build MANIFEST OUTDIR   pack the files of MANIFEST into OUTDIR
//   qmpack verify DIR              check the release set in DIR
//   qmpack keygen PRIVATE PUBLIC   a release key pair (ReleaseSign.h; the
//                                  signing options: SignOptions.h)
//
// New subcommands are added to the table in CommandLine.cpp (name, operand
// count, usage line) and to the dispatch in qmpack.cpp.
#pragma once

#include <string>
#include <vector>

namespace qm::pack {

struct TCommand {
    std::string Name;                  // "build", "verify"; empty on bad usage
    std::vector<std::string> Operands; // exactly as many as the command takes
};

// Args: the program's arguments without the program name.
TCommand ParseCommandLine(const std::vector<std::string>& Args);

// The usage text listing every subcommand.
std::string UsageText();

} // namespace qm::pack
