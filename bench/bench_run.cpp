// The cost of a download run itself: a release set run through the real main
// window (Start to "Transfer finished.") against the same files fetched with
// a bare THttpCli::Get into files and put in place by hand (TLzhD file to
// file for the compressed ones, CopyFileA for the plain ones).
//
//   bench_run [megabytes [rounds]]   defaults: 200 MB of targets per set, 3 rounds
//
// Two sets (RunBenchSets.h): one mostly compressed, one plain, served from
// a loopback server on a thread of this process. Each round times, per set,
// the run and the parts one after the other (the order swapping every
// round), each in a fresh folder that is removed afterwards; every target is
// checked by size and hash. Prints each round, then per set the median
// times and the ratio run/parts (goal: at most 1.10), and what the window
// did during the last run: the chunks it was told of and the time spent in
// their handler (progress), in the status-word handler, and in the
// decoder's message passes between blocks.
#include "HttpBenchServer.h"
#include "RunBenchSets.h"

#include "app/Loader.h"
#include "base/ExtraStr.h"
#include "http/HttpProt.h"
#include "lzh/LzhD.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using qmbench::TBenchSet;
using qmbench::THttpBenchServer;
using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point Start)
{
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

// Wine without a window manager (as under Xvfb) waits two seconds for every
// hidden or destroyed top-level window unless this program's windows are
// unmanaged; Wine reads the setting at a program's start, so it holds from
// the second run of the benchmark on (the waits fall outside the timings).
void SetWineUnmanagedWindows()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe = path;
    const std::string key = "Software\\Wine\\AppDefaults\\" + exe.substr(exe.find_last_of("\\/") + 1) + "\\X11 Driver";
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(handle, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(handle);
    }
}

void RemoveTree(const std::string& Path)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((Path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(Path + "\\" + name);
            else
                DeleteFileA((Path + "\\" + name).c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(Path.c_str());
}

// A fresh folder under the temporary folder, the current directory while
// the object lives, then removed with everything in it.
class TScratchDir {
public:
    TScratchDir()
    {
        char saved[MAX_PATH] = {}, base[MAX_PATH] = {}, name[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, saved);
        saved_ = saved;
        GetTempPathA(MAX_PATH, base);
        if (!GetTempFileNameA(base, "qmb", 0, name)) // creates a file: made a folder below
            throw std::runtime_error("no temporary name");
        DeleteFileA(name);
        Path = name;
        if (!CreateDirectoryA(Path.c_str(), nullptr) || !SetCurrentDirectoryA(Path.c_str()))
            throw std::runtime_error("cannot make the folder " + Path);
    }
    ~TScratchDir()
    {
        SetCurrentDirectoryA(saved_.c_str());
        RemoveTree(Path);
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
};

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

// One run of Set through a fresh main window in a fresh folder: seconds from
// pressing Start to the "Transfer finished." message.
double TimeRun(const THttpBenchServer& Server, const TBenchSet& Set, TRunProfile& Profile)
{
    const TScratchDir dir;
    std::vector<std::string> shown;
    TClock::time_point finished{};
    const qm::ui::TMessageBoxSeam boxes([&](HWND, const std::string& Text, const std::string&, UINT Flags) {
        if (Text == "Transfer finished.")
            finished = TClock::now();
        shown.push_back(Text);
        return (Flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    });
    qm::TaForm form(qm::ScrambleText(Server.BaseUrl() + Set.Name + "/"));
    form.Show();
    qm::ui::Application().ProcessMessages();
    Profile = {};
    form.HttpCli1.OnDocData = Timed(form.HttpCli1.OnDocData, Profile.Chunks, Profile.ChunkSeconds);
    form.HttpCli1.OnStateChange = Timed(form.HttpCli1.OnStateChange, Profile.StatusWords, Profile.StatusSeconds);
    form.LzhD1.OnProcessMessages = Timed(form.LzhD1.OnProcessMessages, Profile.DecoderPasses, Profile.DecoderSeconds);

    const auto start = TClock::now();
    form.SBStart.Click();
    if (shown != std::vector<std::string>{"Transfer finished."} ||
        form.WindowState() != qm::TaForm::TWindowState::Complete)
        throw std::runtime_error("the run of the " + Set.Name + " set did not end with \"Transfer finished.\"" +
                                 (shown.empty() ? "" : ": " + shown.front()));
    const double seconds = std::chrono::duration<double>(finished - start).count();
    CheckTargets(Set, form.DownloadDir, "run");
    return seconds;
}

void Fetch(qm::THttpCli& Http, const std::string& Url, const std::string& Path)
{
    qm::TFileStream out(Path, qm::TFileStream::Mode::Create);
    Http.URL = Url;
    Http.RcvdStream = &out;
    Http.Get();
    Http.RcvdStream = nullptr;
    if (Http.StatusCode() != 200 || out.Size() != Http.ContentLength())
        throw std::runtime_error("parts: " + Url + " failed");
}

// The same files by hand in a fresh folder: list.txt and every download
// fetched with one client, each target decoded or copied right after its
// download, as the run does.
double TimeParts(const THttpBenchServer& Server, const TBenchSet& Set)
{
    const TScratchDir dir;
    const std::string base = Server.BaseUrl() + Set.Name + "/";
    const auto start = TClock::now();
    qm::THttpCli http;
    Fetch(http, base + "list.txt", dir.Path + "\\list.txt");
    for (const qmbench::TBenchFile& f : Set.Files) {
        const std::string download = dir.Path + "\\" + f.Remote;
        const std::string target = dir.Path + "\\" + f.Target;
        Fetch(http, base + f.Remote, download);
        if (f.Compressed) {
            qm::TLzhD lzh;
            lzh.InputFile = download;
            lzh.OutputFile = target;
            lzh.Decompress();
        } else if (!CopyFileA(download.c_str(), target.c_str(), FALSE)) {
            throw std::runtime_error("parts: cannot copy " + download);
        }
    }
    const double seconds = SecondsSince(start);
    CheckTargets(Set, dir.Path, "parts");
    return seconds;
}

double Median(std::vector<double> V)
{
    std::sort(V.begin(), V.end());
    const std::size_t n = V.size();
    return n % 2 == 1 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

struct TSetTimes {
    const TBenchSet* Set;
    std::vector<double> Run, Parts, Ratios;
    TRunProfile LastProfile;
};

void PrintSummary(const TSetTimes& T)
{
    const double run = Median(T.Run), parts = Median(T.Parts);
    std::printf("%-10s (%lld MB downloaded, %lld MB placed): run %.2f s, parts %.2f s, run/parts %.2f"
                " (median of the rounds' ratios %.2f)\n",
                T.Set->Name.c_str(), static_cast<long long>(T.Set->DownloadBytes() >> 20),
                static_cast<long long>(T.Set->InstalledBytes() >> 20), run, parts, run / parts, Median(T.Ratios));
    const TRunProfile& p = T.LastProfile;
    std::printf("           last run: %ld chunks, %.3f s in their handler (%.1f us each); %ld status words, %.3f s;"
                " %ld decoder message passes, %.3f s\n",
                p.Chunks, p.ChunkSeconds, p.Chunks ? p.ChunkSeconds * 1e6 / static_cast<double>(p.Chunks) : 0.0,
                p.StatusWords, p.StatusSeconds, p.DecoderPasses, p.DecoderSeconds);
}

void Bench(std::size_t Megabytes, long Rounds)
{
    THttpBenchServer::TFiles served;
    std::printf("making the sets (%zu MB of targets each) ...\n", Megabytes);
    std::fflush(stdout);
    const TBenchSet sets[] = {qmbench::MakeCompressedSet(Megabytes, served),
                              qmbench::MakePlainSet(Megabytes, served)};
    const THttpBenchServer server(std::move(served));
    std::vector<TSetTimes> times;
    for (const TBenchSet& set : sets)
        times.push_back({&set, {}, {}, {}, {}});
    for (long round = 0; round < Rounds; ++round) {
        std::printf("round %ld:", round + 1);
        for (TSetTimes& t : times) {
            const bool runFirst = round % 2 == 0;
            const double first = runFirst ? TimeRun(server, *t.Set, t.LastProfile) : TimeParts(server, *t.Set);
            const double second = runFirst ? TimeParts(server, *t.Set) : TimeRun(server, *t.Set, t.LastProfile);
            t.Run.push_back(runFirst ? first : second);
            t.Parts.push_back(runFirst ? second : first);
            t.Ratios.push_back(t.Run.back() / t.Parts.back());
            std::printf("  %s run %.2f s, parts %.2f s (%.2f)", t.Set->Name.c_str(), t.Run.back(), t.Parts.back(),
                        t.Ratios.back());
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("medians of %ld rounds:\n", Rounds);
    for (const TSetTimes& t : times)
        PrintSummary(t);
}

} // namespace

int main(int argc, char** argv)
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 200;
    const long rounds = argc > 2 ? std::atol(argv[2]) : 3;
    if (megabytes < 4 || megabytes > 1024 || rounds <= 0 || rounds > 100 || argc > 3) {
        std::fprintf(stderr, "usage: bench_run [megabytes (4-1024) [rounds (1-100)]]\n");
        return 2;
    }
    SetWineUnmanagedWindows();
    qm::ui::Application().Title = "Quillmark Loader";
    try {
        Bench(static_cast<std::size_t>(megabytes), rounds);
    } catch (const std::exception& e) { // qm::Exception included
        std::fprintf(stderr, "bench_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
