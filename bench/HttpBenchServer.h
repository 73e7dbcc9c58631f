// The HTTP benchmarks' server: a plain blocking WinSock server on a thread
// of its own, listening on 127.0.0.1 at a free port. It answers each request
// "GET /<path> ..." with an HTTP/1.0 200 response (Content-Length given) and
// closes: with the named file's bytes when <path> is one of the files given
// to the constructor, otherwise when <path> is a decimal <size> with exactly
// <size> bytes of a fixed pseudo-random pattern, otherwise 404. The pattern
// is generated as it is sent, so the server's memory does not grow with the
// size and the client's figures stay its own. Connections are served one
// after another.
#pragma once

#include "BenchWinsock.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace qmbench {

class THttpBenchServer {
public:
    // Request path (without the leading "/") -> body; fixed for the
    // server's lifetime, since the thread reads it unguarded.
    using TFiles = std::map<std::string, std::string, std::less<>>;

    // Listens and starts the thread; raises std::runtime_error on failure.
    explicit THttpBenchServer(TFiles Files = {});
    // Stops the thread within a fraction of a second (a transfer in progress
    // is cut off).
    ~THttpBenchServer();
    THttpBenchServer(const THttpBenchServer&) = delete;
    THttpBenchServer& operator=(const THttpBenchServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>/<Size>"
    std::string Url(std::size_t Size) const;
    // "http://127.0.0.1:<port>/": the base of the files' paths.
    std::string BaseUrl() const;

    // True when the file at Path holds exactly Size bytes of the pattern.
    bool FileMatches(const std::string& Path, std::size_t Size) const;

private:
    // Calls F(done, run, length) for the contiguous runs of the pattern that
    // make up body bytes Offset to Offset + Len, while F returns true; false
    // when F stopped it.
    template <class F>
    bool ForEachPatternRun(std::size_t Offset, std::size_t Len, F&& Visit) const
    {
        for (std::size_t done = 0; done < Len;) {
            const std::size_t at = (Offset + done) % pattern_.size();
            const std::size_t run = std::min(Len - done, pattern_.size() - at);
            if (!Visit(done, pattern_.data() + at, run))
                return false;
            done += run;
        }
        return true;
    }
    void Serve();
    void Answer(SOCKET Client);
    bool SendPattern(SOCKET Client, std::size_t Size) const;

    TFiles files_;
    std::vector<std::uint8_t> pattern_;
    qm::bench::WinsockSession winsock_;
    qm::bench::Socket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace qmbench
