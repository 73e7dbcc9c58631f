// Runs saved fuzz inputs through the fuzz targets without libFuzzer, as an
// ordinary test that also runs under Wine:
//
//   lzh_fuzz_replay TARGET DIR [TARGET DIR]...     TARGET: decompress | roundtrip
//
// Every file in DIR is one input. A fault aborts the program; otherwise it
// prints how many inputs each target ran and exits 0 (1 on bad arguments or
// an empty directory).
#include "LzhTargets.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TTarget = void (*)(const std::uint8_t*, std::size_t);

TTarget Lookup(const std::string& name)
{
    if (name == "decompress")
        return qmfuzz::FuzzDecompress;
    if (name == "roundtrip")
        return qmfuzz::FuzzRoundTrip;
    return nullptr;
}

int Replay(TTarget target, const fs::path& dir)
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
        std::fputs("usage: lzh_fuzz_replay TARGET DIR [TARGET DIR]...\n", stderr);
        return 1;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const TTarget target = Lookup(argv[i]);
        if (!target) {
            std::fprintf(stderr, "lzh_fuzz_replay: unknown target %s\n", argv[i]);
            return 1;
        }
        const int n = Replay(target, argv[i + 1]);
        std::printf("%s: %d inputs from %s\n", argv[i], n, argv[i + 1]);
        if (n == 0)
            return 1;
    }
    return 0;
}
