// Download throughput and memory of THttpCli::Get over loopback, next to a
// bare WSAAsyncSelect loop with the same read discipline (this platform's
// ceiling for the design) and a WinINet download of the same file.
//
//   bench_http [megabytes [runs [file]]]   defaults: 256 MB, 3 runs, a file
//                                          in the temporary directory
//   bench_http --https HTTPS_URL HTTP_URL [runs]
//                                          Get and WinINet, each over http
//                                          and over https, of the same file
//                                          from the same server
//                                          (bench/run-https-bench.sh starts
//                                          nginx and passes the URLs)
//
// The server is in this process, on a thread of its own (HttpBenchServer.h).
// Every download goes into the same file (deleted at the end) and is checked
// byte for byte afterwards. First Get runs once for 16 MB and once for the
// full size, each followed by the process's peak working set and pagefile
// usage, so the memory can be seen not to grow with the size. Then `runs`
// rounds of the methods: the best and median MB/s of each (1 MB = 2^20
// bytes), the ratios (Get/bare and Get/WinINet; with --https Get-http over
// WinINet-http and over Get-https, Get-https over WinINet-https) of the
// medians, of the best and (median) of each round, and the CPU time of the
// downloading thread.
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
#include <span>
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
using TDownload = std::function<bool(qm::TStream&)>;
// True when the file at the path holds what was served.
using TVerify = std::function<bool(const std::string&)>;

// Size < 0: any length, as long as it matches the Content-Length.
bool GetUrl(const std::string& Url, std::int64_t Size, qm::TStream& Out)
{
    qm::THttpCli http;
    http.URL = Url;
    http.RcvdStream = &Out;
    http.Get();
    return http.StatusCode() == 200 && http.RcvdCount() == (Size >= 0 ? Size : http.ContentLength());
}

TDownload GetDownload(const THttpBenchServer& Server, std::size_t Size)
{
    return [&Server, Size](qm::TStream& Out) {
        return GetUrl(Server.Url(Size), static_cast<std::int64_t>(Size), Out);
    };
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

// One verified download; raises on failure.
TTiming Time(const char* Label, const TDownload& Download, const TVerify& Verify, const std::string& Path)
{
    TTiming t{};
    {
        qm::TFileStream out(Path, qm::TFileStream::Mode::Create);
        const double cpu = ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Download(out);
        t.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        t.CpuSeconds = ThreadCpuSeconds() - cpu;
        if (!ok)
            throw std::runtime_error(std::string(Label) + ": download failed");
    }
    if (!Verify(Path))
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

// A ratio printed after each round and in the summary: the rate of method
// First over that of method Second (indices into the methods).
struct TRatio {
    std::size_t First, Second;
    std::vector<double> Rounds = {};
};

// Rounds of the methods, each round starting with the next one, so a
// change in the machine's load touches all of them alike. Prints each
// figure, the best and the median of each method, the ratios of the best,
// the median of the rounds' own ratios (less swayed by one lucky run), and
// the median CPU time of the downloading thread, which a busy machine sways
// least. Size: the bytes of one download, for the rates.
void Compare(std::span<TMethod> Methods, std::vector<TRatio> Ratios, const TVerify& Verify, std::size_t Size,
             long Runs, const std::string& Path)
{
    const auto name = [&](const TRatio& r) {
        return std::string(Methods[r.First].Label) + "/" + Methods[r.Second].Label;
    };
    for (long i = 0; i < Runs; ++i) {
        std::printf("round %ld:", i + 1);
        for (std::size_t k = 0; k < Methods.size(); ++k) {
            TMethod& m = Methods[(static_cast<std::size_t>(i) + k) % Methods.size()];
            const TTiming t = Time(m.Label, m.Download, Verify, Path);
            m.Rates.push_back(MegabytesPerSecond(Size, t.Seconds));
            m.CpuSeconds.push_back(t.CpuSeconds);
            std::printf("  %s %.1f MB/s (cpu %.2f s)", m.Label, m.Rates.back(), t.CpuSeconds);
            std::fflush(stdout);
        }
        for (TRatio& r : Ratios) {
            r.Rounds.push_back(Methods[r.First].Rates.back() / Methods[r.Second].Rates.back());
            std::printf("  %s %.2f", name(r).c_str(), r.Rounds.back());
        }
        std::printf("\n");
    }
    std::printf("%ld rounds, %.1f MB:\n", Runs, static_cast<double>(Size) / 1048576.0);
    for (const TMethod& m : Methods)
        std::printf("  %-14s best %.1f MB/s, median %.1f MB/s, median cpu %.2f s\n", m.Label, m.Best(),
                    Median(m.Rates), Median(m.CpuSeconds));
    for (const TRatio& r : Ratios)
        std::printf("  %-26s median of the rounds' ratios %.2f, of the medians %.2f, of the best %.2f\n",
                    name(r).c_str(), Median(r.Rounds), Median(Methods[r.First].Rates) / Median(Methods[r.Second].Rates),
                    Methods[r.First].Best() / Methods[r.Second].Best());
}

void Run(std::size_t Megabytes, long Runs, const std::string& Path)
{
    const THttpBenchServer server;
    std::printf("memory of Get (process-wide peaks, so a growth would show in the second line):\n");
    for (const std::size_t mb : {std::min(SmallMegabytes, Megabytes), Megabytes}) {
        const auto verify = [&server, mb](const std::string& File) { return server.FileMatches(File, mb << 20); };
        const TTiming t = Time("Get", GetDownload(server, mb << 20), verify, Path);
        std::printf("  Get %zu MB: %.1f MB/s\n", mb, MegabytesPerSecond(mb << 20, t.Seconds));
        PrintMemory();
    }
    const std::size_t size = Megabytes << 20;
    TMethod methods[] = {
        {"Get", GetDownload(server, size)},
        {"bare", [&server, size](qm::TStream& Out) { return qmbench::BareGet(server.Port(), size, Out); }},
        {"WinINet", [&server, size](qm::TStream& Out) { return qmbench::WinInetGet(server.Url(size), Out); }},
    };
    Compare(methods, {{0, 1}, {0, 2}}, [&server, size](const std::string& File) { return server.FileMatches(File, size); },
            size, Runs, Path);
}

// The same file over https and http from one server: a first plain download
// is the reference every later download must equal.
void RunHttps(const std::string& HttpsUrl, const std::string& HttpUrl, long Runs, const std::string& Path)
{
    const std::string reference = Path + ".ref";
    std::int64_t size = 0;
    {
        qm::TFileStream out(reference, qm::TFileStream::Mode::Create);
        if (!GetUrl(HttpUrl, -1, out))
            throw std::runtime_error("the reference download from " + HttpUrl + " failed");
        size = out.Size();
    }
    TMethod methods[] = {
        {"Get-http", [&](qm::TStream& Out) { return GetUrl(HttpUrl, size, Out); }},
        {"Get-https", [&](qm::TStream& Out) { return GetUrl(HttpsUrl, size, Out); }},
        {"WinINet-http", [&](qm::TStream& Out) { return qmbench::WinInetGet(HttpUrl, Out); }},
        {"WinINet-https", [&](qm::TStream& Out) { return qmbench::WinInetGet(HttpsUrl, Out); }},
    };
    // Get over http against WinINet over http and against Get over https;
    // Get over https against WinINet over https.
    const std::vector<TRatio> ratios = {{0, 2}, {0, 1}, {1, 3}};
    const auto verify = [&](const std::string& File) { return qmbench::SameFiles(File, reference); };
    std::printf("%s and %s, %.1f MB\n", HttpsUrl.c_str(), HttpUrl.c_str(), static_cast<double>(size) / 1048576.0);
    try {
        Compare(methods, ratios, verify, static_cast<std::size_t>(size), Runs, Path);
    } catch (...) {
        DeleteFileA(reference.c_str());
        throw;
    }
    DeleteFileA(reference.c_str());
}

} // namespace

int HttpsMain(int argc, char** argv)
{
    const long runs = argc > 4 ? std::atol(argv[4]) : 3;
    if (argc < 4 || argc > 5 || runs <= 0 || runs > 100) {
        std::fprintf(stderr, "usage: bench_http --https HTTPS_URL HTTP_URL [runs (1-100)]\n");
        return 2;
    }
    const std::string path = TempFilePath();
    int status = 0;
    try {
        RunHttps(argv[2], argv[3], runs, path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        status = 1;
    }
    DeleteFileA(path.c_str());
    return status;
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--https")
        return HttpsMain(argc, argv);
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
