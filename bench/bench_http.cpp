// Download throughput and memory of THttpCli::Get over loopback, next to a
// bare WSAAsyncSelect loop with the same read discipline (this platform's
// ceiling for the design) and a WinINet download of the same file.
//
//   bench_http [megabytes [runs [file]]]   defaults: 256 MB, 3 runs, a file
//                                          in the temporary directory
//
// The server is in this process, on a thread of its own (HttpBenchServer.h).
// Every download goes into the same file (deleted at the end) and is checked
// byte for byte afterwards. First Get runs once for 16 MB and once for the
// full size, each followed by the process's peak working set and pagefile
// usage, so the memory can be seen not to grow with the size. Then `runs`
// rounds of the three methods: the best MB/s of each (1 MB = 2^20 bytes),
// the ratios Get/bare and Get/WinINet of the best and (median) of each round,
// and the CPU time of the downloading thread.
#include "BenchStats.h"
#include "HttpBenchClients.h"
#include "HttpBenchServer.h"

#include "http/HttpProt.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using qmbench::Median;
using qmbench::THttpBenchServer;
using qmbench::ThreadCpuSeconds;

constexpr std::size_t SmallMegabytes = 16;

// A download into the file; false on failure.
using TDownload = std::function<bool(const THttpBenchServer&, std::size_t, qm::TStream&)>;

bool GetDownload(const THttpBenchServer& Server, std::size_t Size, qm::TStream& Out)
{
    qm::THttpCli http;
    http.URL = Server.Url(Size);
    http.RcvdStream = &Out;
    http.Get();
    return http.StatusCode() == 200 && http.RcvdCount() == static_cast<std::int64_t>(Size);
}

bool BareDownload(const THttpBenchServer& Server, std::size_t Size, qm::TStream& Out)
{
    return qmbench::BareGet(Server.Port(), Size, Out);
}

bool WinInetDownload(const THttpBenchServer& Server, std::size_t Size, qm::TStream& Out)
{
    return qmbench::WinInetGet(Server.Url(Size), Out);
}

std::string TempFilePath()
{
    char dir[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, dir);
    return (n > 0 && n < MAX_PATH ? std::string(dir) : std::string(".\\")) + "qm_bench_http.tmp";
}

struct TTiming {
    double Seconds;    // wall clock
    double CpuSeconds; // of the downloading thread (the server runs on another)
};

// One verified download of Size bytes; raises on failure.
TTiming Time(const char* Label, const TDownload& Download, const THttpBenchServer& Server, std::size_t Size,
             const std::string& Path)
{
    TTiming t{};
    {
        qm::TFileStream out(Path, qm::TFileStream::Mode::Create);
        const double cpu = ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Download(Server, Size, out);
        t.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        t.CpuSeconds = ThreadCpuSeconds() - cpu;
        if (!ok)
            throw std::runtime_error(std::string(Label) + ": download failed");
    }
    if (!Server.FileMatches(Path, Size))
        throw std::runtime_error(std::string(Label) + ": the file differs from what was sent");
    return t;
}

double MegabytesPerSecond(std::size_t Size, double Seconds)
{
    return static_cast<double>(Size) / 1048576.0 / std::max(Seconds, 0.001);
}

void PrintMemory()
{
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) {
        std::printf("    (memory counters unavailable)\n");
        return;
    }
    std::printf("    peak working set %.1f MB, pagefile usage %.1f MB (peak %.1f MB)\n",
                static_cast<double>(pmc.PeakWorkingSetSize) / 1048576.0,
                static_cast<double>(pmc.PagefileUsage) / 1048576.0,
                static_cast<double>(pmc.PeakPagefileUsage) / 1048576.0);
}

struct TMethod {
    TMethod(const char* L, TDownload D) : Label(L), Download(std::move(D)) {}
    double Best() const { return *std::max_element(Rates.begin(), Rates.end()); }

    const char* Label;
    TDownload Download;
    std::vector<double> Rates;      // MB/s of each round
    std::vector<double> CpuSeconds; // of each round
};

// Rounds of the three methods, each round starting with the next one, so a
// change in the machine's load touches all of them alike. Prints each
// figure, the best of each with the ratios of the best, the median of the
// rounds' own ratios (less swayed by one lucky run), and the median CPU time
// of the downloading thread, which a busy machine sways least.
void Compare(const THttpBenchServer& Server, std::size_t Size, long Runs, const std::string& Path)
{
    TMethod methods[] = {{"Get", GetDownload}, {"bare", BareDownload}, {"WinINet", WinInetDownload}};
    std::vector<double> toBare, toWinInet;
    for (long i = 0; i < Runs; ++i) {
        std::printf("round %ld:", i + 1);
        for (std::size_t k = 0; k < std::size(methods); ++k) {
            TMethod& m = methods[(static_cast<std::size_t>(i) + k) % std::size(methods)];
            const TTiming t = Time(m.Label, m.Download, Server, Size, Path);
            m.Rates.push_back(MegabytesPerSecond(Size, t.Seconds));
            m.CpuSeconds.push_back(t.CpuSeconds);
            std::printf("  %s %.1f MB/s (cpu %.2f s)", m.Label, m.Rates.back(), t.CpuSeconds);
            std::fflush(stdout);
        }
        toBare.push_back(methods[0].Rates.back() / methods[1].Rates.back());
        toWinInet.push_back(methods[0].Rates.back() / methods[2].Rates.back());
        std::printf("  Get/bare %.2f, Get/WinINet %.2f\n", toBare.back(), toWinInet.back());
    }
    const double get = methods[0].Best(), bare = methods[1].Best(), wininet = methods[2].Best();
    std::printf("best of %ld, %zu MB: Get %.1f MB/s, bare %.1f MB/s, WinINet %.1f MB/s\n", Runs, Size >> 20, get,
                bare, wininet);
    std::printf("ratios of the best: Get/bare %.2f, Get/WinINet %.2f\n", get / bare, get / wininet);
    std::printf("median of the rounds' ratios: Get/bare %.2f, Get/WinINet %.2f\n", Median(toBare), Median(toWinInet));
    std::printf("median cpu seconds of the downloading thread: Get %.2f, bare %.2f, WinINet %.2f\n",
                Median(methods[0].CpuSeconds), Median(methods[1].CpuSeconds), Median(methods[2].CpuSeconds));
}

void Run(std::size_t Megabytes, long Runs, const std::string& Path)
{
    const THttpBenchServer server;
    std::printf("memory of Get (process-wide peaks, so a growth would show in the second line):\n");
    for (const std::size_t mb : {std::min(SmallMegabytes, Megabytes), Megabytes}) {
        const TTiming t = Time("Get", GetDownload, server, mb << 20, Path);
        std::printf("  Get %zu MB: %.1f MB/s\n", mb, MegabytesPerSecond(mb << 20, t.Seconds));
        PrintMemory();
    }
    Compare(server, Megabytes << 20, Runs, Path);
}

} // namespace

int main(int argc, char** argv)
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 256;
    const long runs = argc > 2 ? std::atol(argv[2]) : 3;
    if (megabytes <= 0 || megabytes > 1024 || runs <= 0 || runs > 100 || argc > 4) {
        std::fprintf(stderr, "usage: bench_http [megabytes (1-1024) [runs (1-100) [file]]]\n");
        return 2;
    }
    const std::string path = argc > 3 ? argv[3] : TempFilePath();
    int status = 0;
    try {
        Run(static_cast<std::size_t>(megabytes), runs, path);
    } catch (const std::exception& e) { // qm::Exception included
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        status = 1;
    }
    DeleteFileA(path.c_str());
    return status;
}
