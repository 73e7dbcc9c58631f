// Writes the LZH benchmark corpus (Corpus.h) to a directory as files, for
// timing the command-line tool (compare-lzh.py):
//
//   lzh_corpus DIR [MIXED_MB]     text, binary, random, runs, mixed (60 MB)
#include "Corpus.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: lzh_corpus DIR [MIXED_MB]\n", stderr);
        return 2;
    }
    try {
        const std::size_t mixedMb = argc == 3 ? std::stoul(argv[2]) : 60;
        for (const auto& f : qmbench::MakeCorpus(QM_BENCH_BINARY, mixedMb << 20)) {
            const std::string path = std::string(argv[1]) + "/" + f.Name;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(f.Data.data()), static_cast<std::streamsize>(f.Data.size()));
            if (!out.flush())
                throw std::runtime_error("cannot write " + path);
            std::printf("%s %zu\n", path.c_str(), f.Data.size());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lzh_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
