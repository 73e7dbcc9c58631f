// The reference loop of the many-small-files benchmark (run-small-bench.sh):
// what a Windows programmer would write to fetch a release set with WinINet
// in one process. One session handle for the whole loop (WinINet keeps its
// connections), list.txt first, then every file of it in list order into a
// fresh folder, each put in place right after its download as the run does
// (TLzhD file to file for a compressed one, CopyFileA for a plain one).
//
//   bench_wininet FOLDER BASEURL...
//       FOLDER: where the scratch folders go (removed afterwards);
//       BASEURL: a set's folder on the server, ending in '/'
//
// Prints one line per set: "wininet NAME FILES SECONDS CPU", the wall clock
// and the main thread's CPU time from the first request to the last file in
// place. Exits 1 when a request fails or a size is not the listed one.
#include "BenchStats.h"

#include "base/Stream.h"
#include "lzh/LzhD.h"
#include "release/ListLine.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TInternetCloser {
    void operator()(HINTERNET H) const { InternetCloseHandle(H); }
};
using TInternetHandle = std::unique_ptr<void, TInternetCloser>;

// URL's body into Out; the byte count, or -1 on any failure or a status
// other than 200.
std::int64_t Fetch(HINTERNET Session, const std::string& Url, qm::TStream& Out)
{
    const DWORD flags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
    const TInternetHandle request(InternetOpenUrlA(Session, Url.c_str(), nullptr, 0, flags, 0));
    DWORD status = 0, len = sizeof status;
    if (!request ||
        !HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr) ||
        status != 200)
        return -1;
    char buf[8192];
    std::int64_t total = 0;
    for (DWORD read = 0;; total += read) {
        if (!InternetReadFile(request.get(), buf, sizeof buf, &read))
            return -1;
        if (read == 0)
            return total;
        if (Out.Write(buf, static_cast<std::int32_t>(read)) != static_cast<std::int32_t>(read))
            return -1;
    }
}

std::string FileName(const std::string& Path)
{
    const std::size_t slash = Path.find_last_of("\\/");
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// One set into Folder; the number of files fetched after list.txt.
std::size_t FetchSet(HINTERNET Session, const std::string& Base, const std::string& Folder)
{
    const std::string list = Folder + "\\list.txt";
    {
        qm::TFileStream out(list, qm::TFileStream::Mode::Create);
        if (Fetch(Session, Base + "list.txt", out) < 0)
            throw std::runtime_error(Base + "list.txt failed");
    }
    std::string text;
    {
        qm::TFileStream in(list, qm::TFileStream::Mode::OpenRead);
        text.resize(static_cast<std::size_t>(in.Size()));
        in.Read(text.data(), static_cast<std::int32_t>(text.size()));
    }
    std::size_t files = 0;
    for (const std::string& lineText : qm::SplitListText(text)) {
        const qm::TListLine line = qm::ParseListLine(lineText);
        const std::string download = Folder + "\\" + line.RemoteName;
        const std::string target = Folder + "\\" + FileName(line.TargetPath);
        {
            qm::TFileStream out(download, qm::TFileStream::Mode::Create);
            if (Fetch(Session, Base + line.RemoteName, out) != line.DownloadSize.Value.value_or(-1))
                throw std::runtime_error(Base + line.RemoteName + " failed");
        }
        if (line.Compressed) {
            qm::TLzhD lzh;
            lzh.InputFile = download;
            lzh.OutputFile = target;
            lzh.Decompress();
        } else if (target != download && !CopyFileA(download.c_str(), target.c_str(), FALSE)) {
            throw std::runtime_error("cannot copy " + download);
        }
        ++files;
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_wininet FOLDER BASEURL...\n");
        return 2;
    }
    try {
        const TInternetHandle session(InternetOpenA("bench_wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        if (!session)
            throw std::runtime_error("no WinINet session");
        for (int i = 2; i < argc; ++i) {
            const std::string base = argv[i];
            const std::string folder = std::string(argv[1]) + "\\qmw" + std::to_string(GetCurrentProcessId());
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            const auto start = std::chrono::steady_clock::now();
            const double cpu = qmbench::ThreadCpuSeconds();
            const std::size_t files = FetchSet(session.get(), base, folder);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("wininet %s %zu %.3f %.3f\n", base.c_str(), files, seconds, qmbench::ThreadCpuSeconds() - cpu);
            std::fflush(stdout);
            std::filesystem::remove_all(folder);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_wininet: %s\n", e.what());
        return 1;
    }
    return 0;
}
