#include "RunBenchSets.h"

#include "base/Stream.h"
#include "lzh/LzhD.h"
#include "release/ListLine.h"
#include "release/Sha256Cng.h"

#include <random>
#include <utility>

namespace qmbench {
namespace {

constexpr std::size_t CompressedFiles = 5;
constexpr std::size_t PlainFiles = 4;
constexpr std::size_t SmallPlainSize = 300000;

// Text that compresses about as well as a program's data files: lines of
// words from a fixed vocabulary with a number at the end.
std::string GeneratedText(std::size_t Size, std::uint64_t Seed)
{
    std::mt19937_64 rng(Seed);
    std::vector<std::string> words(4096);
    for (std::string& word : words)
        for (std::size_t n = 3 + rng() % 7; n > 0; --n)
            word += static_cast<char>('a' + rng() % 26);
    std::string text;
    text.reserve(Size + 128);
    while (text.size() < Size) {
        for (std::uint64_t bits = rng(), n = 4 + bits % 6; n > 0; --n, bits >>= 10)
            text += words[(bits >> 4) % words.size()] + ' ';
        text += std::to_string(rng() % 100000) + "\r\n";
    }
    text.resize(Size);
    return text;
}

std::string GeneratedBytes(std::size_t Size, std::uint64_t Seed)
{
    std::mt19937_64 rng(Seed);
    std::string bytes(Size, '\0');
    for (std::size_t i = 0; i < Size; i += 8) {
        const std::uint64_t r = rng();
        for (std::size_t k = 0; k < 8 && i + k < Size; ++k)
            bytes[i + k] = static_cast<char>(r >> (8 * k));
    }
    return bytes;
}

// Plain in the compressed-file format, by the project's encoder.
std::string Compressed(const std::string& Plain)
{
    qm::TMemoryStream in(std::vector<std::uint8_t>(Plain.begin(), Plain.end()));
    qm::TMemoryStream out;
    qm::TLzhD lzh;
    lzh.UseStream = true;
    lzh.InputStream = &in;
    lzh.OutputStream = &out;
    lzh.Compress();
    return out.AsString();
}

// Adds one file (Served keeps its bytes) and its list line, with the
// SHA-256 of Body when the set is Hashed.
void AddFile(TBenchSet& Set, THttpBenchServer::TFiles& Served, std::string& List, TBenchFile File,
             const std::string& Plain, std::string Body)
{
    File.InstalledSize = static_cast<std::int64_t>(Plain.size());
    File.DownloadSize = static_cast<std::int64_t>(Body.size());
    File.TargetHash = Fnv1a(Plain);
    qm::TListLine line;
    line.DisplayName = File.Target;
    line.DownloadSize = qm::TListSize::Of(static_cast<std::int32_t>(File.DownloadSize));
    line.InstalledSize = qm::TListSize::Of(static_cast<std::int32_t>(File.InstalledSize));
    line.RemoteName = File.Remote;
    line.TargetPath = "{prog}\\" + File.Target;
    line.Compressed = File.Compressed;
    if (Set.Hashed)
        line.Sha256.Text = qm::HexText(qm::TSha256::Of(Body));
    line.InstalledSha256.Text = qm::HexText(qm::TSha256::Of(Plain)); // as qmpack writes it
    List += qm::FormatListLine(line) + "\r\n";
    Served[Set.Name + "/" + File.Remote] = std::move(Body);
    Set.Files.push_back(std::move(File));
}

} // namespace

std::int64_t TBenchSet::DownloadBytes() const
{
    std::int64_t sum = 0;
    for (const TBenchFile& f : Files)
        sum += f.DownloadSize;
    return sum;
}

std::int64_t TBenchSet::InstalledBytes() const
{
    std::int64_t sum = 0;
    for (const TBenchFile& f : Files)
        sum += f.InstalledSize;
    return sum;
}

TBenchSet MakeCompressedSet(std::size_t Megabytes, bool Hashed, THttpBenchServer::TFiles& Served)
{
    TBenchSet set{"compressed", Hashed, {}};
    std::string list;
    const std::size_t each = ((Megabytes << 20) - SmallPlainSize) / CompressedFiles;
    for (std::size_t i = 0; i < CompressedFiles; ++i) {
        const std::string plain = GeneratedText(each, 100 + i);
        const std::string name = "data" + std::to_string(i + 1);
        AddFile(set, Served, list, {name + ".lzh", name + ".dat", true}, plain, Compressed(plain));
    }
    const std::string small = GeneratedText(SmallPlainSize, 99);
    AddFile(set, Served, list, {"readme.txt", "readme.dat", false}, small, small);
    Served[set.Name + "/list.txt"] = list;
    return set;
}

TBenchSet MakePlainSet(std::size_t Megabytes, bool Hashed, THttpBenchServer::TFiles& Served)
{
    TBenchSet set{"plain", Hashed, {}};
    std::string list;
    const std::size_t each = (Megabytes << 20) / PlainFiles;
    for (std::size_t i = 0; i < PlainFiles; ++i) {
        std::string bytes = GeneratedBytes(each, 200 + i);
        const std::string name = "part" + std::to_string(i + 1);
        AddFile(set, Served, list, {name + ".bin", name + ".dat", false}, bytes, bytes);
    }
    Served[set.Name + "/list.txt"] = list;
    return set;
}

std::uint64_t Fnv1a(std::string_view Bytes, std::uint64_t Hash)
{
    for (const char c : Bytes) {
        Hash ^= static_cast<unsigned char>(c);
        Hash *= 1099511628211ull;
    }
    return Hash;
}

} // namespace qmbench
