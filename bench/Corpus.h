// The benchmark corpus, made at run time: text found on the machine, the
// project's own tool as a binary, random bytes, runs of one byte, and a mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qmbench {

struct TCorpusFile {
    std::string Name;
    std::vector<std::uint8_t> Data;
};

// binaryPath: an executable to include as the binary sample. The last file,
// "mixed", is mixedSize bytes in 64 KiB pieces taken in turn from the others.
std::vector<TCorpusFile> MakeCorpus(const std::string& binaryPath, std::size_t mixedSize = 6u << 20);

// A file given on the command line, added under its own name.
TCorpusFile LoadFile(const std::string& path);

} // namespace qmbench
