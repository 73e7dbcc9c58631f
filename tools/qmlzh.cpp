// qmlzh: compresses, decompresses and checks files in the LZH compressed-file
// format from the command line.
//
//   qmlzh c IN OUT      compress IN into OUT
//   qmlzh d IN OUT      decompress IN into OUT
//   qmlzh t FILE...     decode each FILE without writing it and report sizes
//
// Exit status: 0 on success, 1 when an operation failed, 2 on bad usage.
#include "base/Stream.h"
#include "lzh/LzhD.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    "usage: qmlzh c IN OUT      compress IN into OUT\n"
    "       qmlzh d IN OUT      decompress IN into OUT\n"
    "       qmlzh t FILE...     test: decode each FILE and report its sizes\n";

// Creating the output truncates it, so one file as both ends would lose its
// data before it is read.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return a == b || std::filesystem::equivalent(a, b, ec);
}

int Transform(char mode, const std::string& in, const std::string& out)
{
    if (SameFile(in, out)) {
        std::fprintf(stderr, "qmlzh: %s is both input and output\n", in.c_str());
        return 1;
    }
    qm::TLzhD lzh;
    lzh.InputFile = in;
    lzh.OutputFile = out;
    const std::int64_t written = mode == 'c' ? lzh.Compress() : lzh.Decompress();
    std::printf("%s -> %s: %lld bytes\n", in.c_str(), out.c_str(), static_cast<long long>(written));
    return 0;
}

// Decodes one file in stream mode so that nothing is written to disk.
void TestOne(const std::string& path)
{
    qm::TFileStream in(path, qm::TFileStream::Mode::OpenRead);
    const std::int64_t stored = in.Size();
    qm::TCountingStream out;
    qm::TLzhD lzh;
    lzh.UseStream = true;
    lzh.InputStream = &in;
    lzh.OutputStream = &out;
    const std::int64_t decoded = lzh.Decompress();
    std::printf("%s: ok, stored %lld bytes, decoded %lld bytes\n", path.c_str(),
                static_cast<long long>(stored), static_cast<long long>(decoded));
}

int Test(const std::vector<std::string>& files)
{
    int status = 0;
    for (const std::string& f : files) {
        try {
            TestOne(f);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qmlzh: %s: %s\n", f.c_str(), e.what());
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "" : args[0];
    try {
        if ((command == "c" || command == "d") && args.size() == 3)
            return Transform(command[0], args[1], args[2]);
        if (command == "t" && args.size() >= 2)
            return Test({args.begin() + 1, args.end()});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qmlzh: %s\n", e.what());
        return 1;
    }
    std::fputs(Usage, stderr);
    return 2;
}
