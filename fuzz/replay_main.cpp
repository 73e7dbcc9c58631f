// Runs saved fuzz inputs through the fuzz targets without libFuzzer, as an
// ordinary test that also runs under Wine:
//
//   PROGRAM TARGET DIR [TARGET DIR]...
//
// PROGRAM is lzh_fuzz_replay (targets decompress, roundtrip) or
// input_fuzz_replay (filelist, spliturl, descramble, response, retryafter, logline); each links
// the table of its targets (ReplayTargets.h).
//
// Every file in DIR is one input. A fault aborts the program; otherwise it
// prints how many inputs each target ran and exits 0 (1 on bad arguments or
// an empty directory).
#include "ReplayTargets.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Replay(qmfuzz::TTarget target, const fs::path& dir)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        target(data.data(), data.size());
    }
    return static_cast<int>(files.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc % 2 == 0) {
        std::fputs("usage: fuzz_replay TARGET DIR [TARGET DIR]...\n", stderr);
        return 1;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const qmfuzz::TTarget target = qmfuzz::ReplayTarget(argv[i]);
        if (!target) {
            std::fprintf(stderr, "fuzz_replay: unknown target %s\n", argv[i]);
            return 1;
        }
        const int n = Replay(target, argv[i + 1]);
        std::printf("%s: %d inputs from %s\n", argv[i], n, argv[i + 1]);
        if (n == 0)
            return 1;
    }
    return 0;
}
