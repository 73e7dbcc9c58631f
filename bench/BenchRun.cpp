// The cost of a download run itself: a release set run through the real main
// window (Start to "Transfer finished.") against the same files fetched into
// files and put in place by hand (TLzhD file to file for the compressed
// ones, CopyFileA for the plain ones), fetched once with a bare
// THttpCli::Get ("parts") and once through WinINet ("WinINet").
//
//   bench_run [--sha256] [--dead-server] [megabytes [rounds [folder]]]
//       defaults: 200 MB of targets per set, 5 rounds, the temporary folder;
//       --sha256: every list line carries its file's SHA-256 (as qmpack
//       writes them), which the run checks and the parts do not;
//       --dead-server: the run's server refuses connections (127.0.0.1
//       port 9) and the set comes from the run's mirror (the cost of a dead
//       server: one refused connection per run)
//
// Two sets (RunBenchSets.h): one mostly compressed, one plain, served from
// a loopback server on a thread of this process. Each round times, per set,
// the run, the parts and the WinINet path one after the other (each round
// starting with the next of them), each in a fresh folder under `folder` that is removed afterwards
// (a folder in memory, such as Z:\dev\shm under Wine, keeps the disk's
// write-back out of the figures); every target is checked by size and hash.
// Times are the wall clock and the CPU time of the main thread, which does
// all the work of both (the server has a thread of its own); a busy machine
// sways both, the latter less, but it leaves out the waits for Wine's
// server. Prints each round, then per set the medians, the best of the
// rounds and the ratios run/parts and run/WinINet, the memory of the runs
// (the process's private bytes, sampled every 256 chunks, less the served
// files, which are in this process too: about what the program alone
// would hold, Wine's own share included),
// and what the window did during the last run: the chunks it was told of and the time spent in
// their handler (progress), in the status-word handler, and in the decoder's
// message passes between blocks, and the messages dispatched. (Without a
// window manager Wine may wait two seconds when a form is destroyed, outside
// the timings.)
#include "BenchStats.h"
#include "HttpBenchClients.h"
#include "HttpBenchServer.h"
#include "RunBenchSets.h"

#include "app/Loader.h"
#include "base/ExtraStr.h"
#include "http/HttpProt.h"
#include "lzh/LzhD.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using qmbench::Median;
using qmbench::TBenchSet;
using qmbench::THttpBenchServer;
using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point Start)
{
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

struct TTiming {
    double Seconds = 0; // wall clock
    double Cpu = 0;     // of the main thread
};

struct TStopwatch {
    TClock::time_point Wall = TClock::now();
    double Cpu = qmbench::ThreadCpuSeconds();

    TTiming Elapsed() const { return {SecondsSince(Wall), qmbench::ThreadCpuSeconds() - Cpu}; }
};

// A fresh folder under Base (empty: the temporary folder), the current
// directory while the object lives, then removed with everything in it.
class TScratchDir {
public:
    explicit TScratchDir(const std::string& Base)
    {
        char saved[MAX_PATH] = {}, temp[MAX_PATH] = {}, name[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, saved);
        saved_ = saved;
        GetTempPathA(MAX_PATH, temp);
        if (!GetTempFileNameA(Base.empty() ? temp : Base.c_str(), "qmb", 0, name)) // a file: made a folder below
            throw std::runtime_error("no temporary name");
        DeleteFileA(name);
        Path = name;
        if (!CreateDirectoryA(Path.c_str(), nullptr) || !SetCurrentDirectoryA(Path.c_str()))
            throw std::runtime_error("cannot make the folder " + Path);
    }
    ~TScratchDir()
    {
        SetCurrentDirectoryA(saved_.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    std::string Path;

private:
    std::string saved_;
};

// Raises unless every target of Set is in Folder with its size and hash.
void CheckTargets(const TBenchSet& Set, const std::string& Folder, const char* What)
{
    std::vector<char> buffer(1 << 20);
    for (const qmbench::TBenchFile& f : Set.Files) {
        const std::string path = Folder + "\\" + f.Target;
        qm::TFileStream file(path, qm::TFileStream::Mode::OpenRead);
        std::uint64_t hash = qmbench::Fnv1a({});
        std::int64_t size = 0;
        for (std::int32_t n; (n = file.Read(buffer.data(), static_cast<std::int32_t>(buffer.size()))) > 0;) {
            hash = qmbench::Fnv1a({buffer.data(), static_cast<std::size_t>(n)}, hash);
            size += n;
        }
        if (size != f.InstalledSize || hash != f.TargetHash)
            throw std::runtime_error(std::string(What) + ": " + path + " is not the file served");
    }
}

// What the window's handlers cost during one run.
struct TRunProfile {
    long Chunks = 0;
    double ChunkSeconds = 0; // in HttpCli1's chunk handler (the progress display)
    long StatusWords = 0;
    double StatusSeconds = 0; // in HttpCli1's state handler (the status word)
    long DecoderPasses = 0;
    double DecoderSeconds = 0; // in LzhD1's message passes between blocks
    long Messages = 0;         // taken from the queue and dispatched, all told
    long DecoderMessages = 0;  // of them, in the decoder's passes
    double PrivatePeak = 0;    // MB of private bytes, the most seen from Start on
};

double PrivateMegabytes()
{
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc) ? static_cast<double>(pmc.PagefileUsage) / 1048576.0
                                                                        : 0;
}

// Wraps Handler so that each call is counted and timed into Count and Seconds.
template <class F>
F Timed(F Handler, long& Count, double& Seconds)
{
    return [Handler = std::move(Handler), &Count, &Seconds](auto&&... Args) {
        const auto start = TClock::now();
        if (Handler)
            Handler(Args...);
        ++Count;
        Seconds += SecondsSince(start);
    };
}

// Counts and times the window's handlers of the run's chunks, state changes
// and decoder passes into Profile (its Messages are counted by the caller).
void ProfileHandlers(qm::TaForm& Form, TRunProfile& Profile)
{
    Form.HttpCli1.OnDocData = [&Profile, chunk = Timed(Form.HttpCli1.OnDocData, Profile.Chunks,
                                                       Profile.ChunkSeconds)](auto&&... Args) {
        chunk(Args...);
        if (Profile.Chunks % 256 == 0)
            Profile.PrivatePeak = std::max(Profile.PrivatePeak, PrivateMegabytes());
    };
    Form.HttpCli1.OnStateChange = Timed(Form.HttpCli1.OnStateChange, Profile.StatusWords, Profile.StatusSeconds);
    Form.LzhD1.OnProcessMessages = [&Profile, pass = Timed(Form.LzhD1.OnProcessMessages, Profile.DecoderPasses,
                                                           Profile.DecoderSeconds)] {
        const long before = Profile.Messages;
        pass();
        Profile.DecoderMessages += Profile.Messages - before;
    };
}

struct TBenchPlace {
    const THttpBenchServer& Server;
    std::string Folder; // where the scratch folders go; empty: the temporary folder
    bool DeadServer = false; // the run's server refuses; Server is its mirror
};

// One run of Set through a fresh main window in a fresh folder: the time from
// pressing Start to the "Transfer finished." message.
TTiming TimeRun(const TBenchPlace& Place, const TBenchSet& Set, TRunProfile& Profile)
{
    const TScratchDir dir(Place.Folder);
    std::vector<std::string> shown;
    TStopwatch watch;
    TTiming finished;
    const qm::ui::TMessageBoxSeam boxes([&](HWND, const std::string& Text, const std::string&, UINT Flags) {
        if (Text == "Transfer finished.")
            finished = watch.Elapsed();
        shown.push_back(Text);
        return (Flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    });
    const std::string base = Place.Server.BaseUrl() + Set.Name + "/";
    qm::TAppSeams seams;
    seams.ScrambledMirrorBaseURLs.clear();
    if (Place.DeadServer)
        seams.ScrambledMirrorBaseURLs.push_back(qm::ScrambleText(base));
    qm::TaForm form(qm::ScrambleText(Place.DeadServer ? "http://127.0.0.1:9/" + Set.Name + "/" : base), seams);
    form.Show();
    qm::ui::Application().ProcessMessages();
    Profile = {};
    ProfileHandlers(form, Profile);
    const qm::ui::TMessageHookGuard counting([&Profile](MSG&) {
        ++Profile.Messages;
        return false;
    });

    Profile.PrivatePeak = PrivateMegabytes();
    watch = {};
    form.SBStart.Click();
    if (shown != std::vector<std::string>{"Transfer finished."} ||
        form.WindowState() != qm::TaForm::TWindowState::Complete)
        throw std::runtime_error("the run of the " + Set.Name + " set did not end with \"Transfer finished.\"" +
                                 (shown.empty() ? "" : ": " + shown.front()));
    CheckTargets(Set, form.DownloadDir, "run");
    return finished;
}

// How the parts fetch a file: with Get (one client for all) or WinINet.
enum class TFetcher { Get, WinINet };

void Fetch(TFetcher By, qm::THttpCli& Http, const std::string& Url, const std::string& Path)
{
    qm::TFileStream out(Path, qm::TFileStream::Mode::Create);
    if (By == TFetcher::WinINet) {
        if (!qmbench::WinInetGet(Url, out))
            throw std::runtime_error("WinINet: " + Url + " failed");
        return;
    }
    Http.URL = Url;
    Http.RcvdStream = &out;
    Http.Get();
    Http.RcvdStream = nullptr;
    if (Http.StatusCode() != 200 || out.Size() != Http.ContentLength())
        throw std::runtime_error("parts: " + Url + " failed");
}

// The same files by hand in a fresh folder: list.txt and every download
// fetched, each target decoded or copied right after its download, as the
// run does.
TTiming TimeParts(const TBenchPlace& Place, const TBenchSet& Set, TFetcher By)
{
    const TScratchDir dir(Place.Folder);
    const std::string base = Place.Server.BaseUrl() + Set.Name + "/";
    const TStopwatch watch;
    qm::THttpCli http;
    Fetch(By, http, base + "list.txt", dir.Path + "\\list.txt");
    for (const qmbench::TBenchFile& f : Set.Files) {
        const std::string download = dir.Path + "\\" + f.Remote;
        const std::string target = dir.Path + "\\" + f.Target;
        Fetch(By, http, base + f.Remote, download);
        if (f.Compressed) {
            qm::TLzhD lzh;
            lzh.InputFile = download;
            lzh.OutputFile = target;
            lzh.Decompress();
        } else if (!CopyFileA(download.c_str(), target.c_str(), FALSE)) {
            throw std::runtime_error("parts: cannot copy " + download);
        }
    }
    const TTiming t = watch.Elapsed();
    CheckTargets(Set, dir.Path, "parts");
    return t;
}

// The timings of one way through a set, round by round.
struct TPathTimes {
    std::vector<double> Wall, Cpu;

    void Add(TTiming T)
    {
        Wall.push_back(T.Seconds);
        Cpu.push_back(T.Cpu);
    }
};

struct TSetTimes {
    const TBenchSet* Set;
    TPathTimes Run, Parts, WinInet;
    double PeakPrivate = 0; // MB, the most any run's process held
    TRunProfile LastProfile;
};

// Run against Other: the ratio of the medians, the median of the rounds'
// own ratios and the ratio of the best rounds, for the wall clock and the
// main thread's CPU time.
void PrintRatios(const char* What, const TPathTimes& Run, const TPathTimes& Other)
{
    const auto line = [What](const char* Clock, const std::vector<double>& R, const std::vector<double>& O) {
        std::vector<double> rounds;
        for (std::size_t i = 0; i < R.size(); ++i)
            rounds.push_back(R[i] / O[i]);
        const double run = Median(R), other = Median(O);
        const double bestRun = *std::min_element(R.begin(), R.end());
        const double bestOther = *std::min_element(O.begin(), O.end());
        std::printf("  %-11s median run %.2f s, %s %.2f s: run/%s %.2f (median of the rounds' ratios %.2f);"
                    " best run %.2f s, %s %.2f s: %.2f\n",
                    Clock, run, What, other, What, run / other, Median(rounds), bestRun, What, bestOther,
                    bestRun / bestOther);
    };
    line("wall clock:", Run.Wall, Other.Wall);
    line("cpu:", Run.Cpu, Other.Cpu);
}

// Served: MB of the files the server holds in this process.
void PrintSummary(const TSetTimes& T, double Served)
{
    std::printf("%s set, %lld MB downloaded, %lld MB placed:\n", T.Set->Name.c_str(),
                static_cast<long long>(T.Set->DownloadBytes() >> 20),
                static_cast<long long>(T.Set->InstalledBytes() >> 20));
    // The best of the rounds is the figure a busy machine disturbed least.
    PrintRatios("parts", T.Run, T.Parts);
    PrintRatios("WinINet", T.Run, T.WinInet);
    std::printf("  memory of the runs: at most %.1f MB of private bytes, %.1f MB besides the %.1f MB served\n",
                T.PeakPrivate, T.PeakPrivate - Served, Served);
    const TRunProfile& p = T.LastProfile;
    std::printf("  last run: %ld chunks, %.3f s in their handler; %ld status words, %.3f s;"
                " %ld decoder message passes, %.3f s, %ld messages in them; %ld messages dispatched\n",
                p.Chunks, p.ChunkSeconds, p.StatusWords, p.StatusSeconds, p.DecoderPasses, p.DecoderSeconds,
                p.DecoderMessages, p.Messages);
}

// One round of Set: the run, the parts and the WinINet path, starting with
// the one First names.
void Round(const TBenchPlace& Place, TSetTimes& T, long First)
{
    TTiming times[3];
    for (long k = 0; k < 3; ++k) {
        switch ((First + k) % 3) {
        case 0:
            times[0] = TimeRun(Place, *T.Set, T.LastProfile);
            T.PeakPrivate = std::max(T.PeakPrivate, T.LastProfile.PrivatePeak);
            break;
        case 1:
            times[1] = TimeParts(Place, *T.Set, TFetcher::Get);
            break;
        default:
            times[2] = TimeParts(Place, *T.Set, TFetcher::WinINet);
            break;
        }
    }
    T.Run.Add(times[0]);
    T.Parts.Add(times[1]);
    T.WinInet.Add(times[2]);
    std::printf("  %s run %.2f s (cpu %.2f), parts %.2f s (cpu %.2f), WinINet %.2f s (cpu %.2f)", T.Set->Name.c_str(),
                times[0].Seconds, times[0].Cpu, times[1].Seconds, times[1].Cpu, times[2].Seconds, times[2].Cpu);
    std::fflush(stdout);
}

struct TOptions {
    std::size_t Megabytes = 200;
    long Rounds = 5;
    std::string Folder;
    bool Hashed = false;
    bool DeadServer = false;
};

// Nothing on a usage error.
std::optional<TOptions> ParseArguments(int argc, char** argv)
{
    TOptions options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sha256")
            options.Hashed = true;
        else if (arg == "--dead-server")
            options.DeadServer = true;
        else
            positional.push_back(arg);
    }
    const long megabytes = positional.size() > 0 ? std::atol(positional[0].c_str()) : 200;
    options.Rounds = positional.size() > 1 ? std::atol(positional[1].c_str()) : 5;
    options.Folder = positional.size() > 2 ? positional[2] : "";
    if (megabytes < 4 || megabytes > 1024 || options.Rounds <= 0 || options.Rounds > 100 || positional.size() > 3)
        return std::nullopt;
    options.Megabytes = static_cast<std::size_t>(megabytes);
    return options;
}

void Bench(const TOptions& Options)
{
    THttpBenchServer::TFiles served;
    double servedMegabytes = 0;
    std::printf("making the sets (%zu MB of targets each%s) ...\n", Options.Megabytes,
                Options.Hashed ? ", SHA-256 on every line" : "");
    std::fflush(stdout);
    const TBenchSet sets[] = {qmbench::MakeCompressedSet(Options.Megabytes, Options.Hashed, served),
                              qmbench::MakePlainSet(Options.Megabytes, Options.Hashed, served)};
    for (const auto& [name, bytes] : served)
        servedMegabytes += static_cast<double>(bytes.size()) / 1048576.0;
    const THttpBenchServer server(std::move(served));
    const TBenchPlace place{server, Options.Folder, Options.DeadServer};
    std::vector<TSetTimes> times;
    for (const TBenchSet& set : sets)
        times.push_back({&set, {}, {}, {}, 0, {}});
    for (long round = 0; round < Options.Rounds; ++round) {
        std::printf("round %ld:", round + 1);
        for (TSetTimes& t : times)
            Round(place, t, round);
        std::printf("\n");
    }
    std::printf("medians of %ld rounds:\n", Options.Rounds);
    for (const TSetTimes& t : times)
        PrintSummary(t, servedMegabytes);
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<TOptions> options = ParseArguments(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: bench_run [--sha256] [--dead-server] [megabytes (4-1024) [rounds (1-100) [folder]]]\n");
        return 2;
    }
    qm::ui::Application().Title = "Quillmark Loader";
    try {
        Bench(*options);
    } catch (const std::exception& e) { // qm::Exception included
        std::fprintf(stderr, "bench_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
