#include "Corpus.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qmbench {

namespace {

constexpr std::size_t TextSize = 2u << 20;
constexpr std::size_t SampleSize = 1u << 20;

std::vector<std::uint8_t> Slurp(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// English prose the system's packages install: the licence texts, then the
// packages' copyright files in name order, up to TextSize.
std::vector<std::uint8_t> EnglishText()
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
        if (e.is_regular_file() && !e.is_symlink())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<fs::path> copyrights;
    for (const auto& e : fs::directory_iterator("/usr/share/doc", ec)) {
        const fs::path c = e.path() / "copyright";
        if (fs::is_regular_file(c, ec))
            copyrights.push_back(c);
    }
    std::sort(copyrights.begin(), copyrights.end());
    files.insert(files.end(), copyrights.begin(), copyrights.end());

    std::vector<std::uint8_t> text;
    for (const fs::path& p : files) {
        const auto bytes = Slurp(p);
        text.insert(text.end(), bytes.begin(), bytes.end());
        if (text.size() >= TextSize)
            break;
    }
    if (text.size() < TextSize / 2)
        throw std::runtime_error("not enough text under /usr/share/common-licenses and /usr/share/doc");
    text.resize(std::min(text.size(), TextSize));
    return text;
}

std::vector<std::uint8_t> RandomBytes(std::size_t size)
{
    std::mt19937 gen(20240601);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(gen() >> 24);
    return out;
}

// Runs of 1,000 to 20,000 copies of one byte value.
std::vector<std::uint8_t> Runs(std::size_t size)
{
    std::mt19937 gen(7);
    std::vector<std::uint8_t> out;
    while (out.size() < size)
        out.insert(out.end(), 1000 + gen() % 19001, static_cast<std::uint8_t>(gen()));
    out.resize(size);
    return out;
}

// 64 KiB pieces taken in turn from the other samples.
std::vector<std::uint8_t> Mixed(const std::vector<TCorpusFile>& parts, std::size_t size)
{
    constexpr std::size_t Piece = 64u << 10;
    std::vector<std::uint8_t> out;
    for (std::size_t round = 0; out.size() < size; ++round) {
        for (const TCorpusFile& f : parts) {
            const std::size_t from = (round * Piece) % std::max<std::size_t>(f.Data.size(), 1);
            const std::size_t n = std::min(Piece, f.Data.size() - from);
            out.insert(out.end(), f.Data.begin() + static_cast<std::ptrdiff_t>(from),
                       f.Data.begin() + static_cast<std::ptrdiff_t>(from + n));
        }
    }
    out.resize(size);
    return out;
}

} // namespace

TCorpusFile LoadFile(const std::string& path)
{
    TCorpusFile f{fs::path(path).filename().string(), Slurp(path)};
    if (f.Data.empty())
        throw std::runtime_error("cannot read " + path);
    return f;
}

std::vector<TCorpusFile> MakeCorpus(const std::string& binaryPath, std::size_t mixedSize)
{
    std::vector<TCorpusFile> corpus;
    corpus.push_back({"text", EnglishText()});
    corpus.push_back(LoadFile(binaryPath));
    corpus.back().Name = "binary";
    corpus.push_back({"random", RandomBytes(SampleSize)});
    corpus.push_back({"runs", Runs(SampleSize)});
    corpus.push_back({"mixed", Mixed(corpus, mixedSize)});
    return corpus;
}

} // namespace qmbench
