#include "HttpBenchServer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

namespace qmbench {
namespace {

// Not a multiple of any read or send size, so a chunk delivered twice or
// out of place cannot match by accident.
constexpr std::size_t PatternSize = (std::size_t{1} << 20) + 7;
constexpr int SendPiece = 65536;
constexpr int IoTimeoutMs = 10000;

bool WaitReadable(SOCKET S, long Ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(S, &set);
    timeval tv{Ms / 1000, (Ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
}

// The first line of the request head, once the whole head (up to the empty
// line) has arrived; empty on failure or time-out.
std::string ReadRequestLine(SOCKET S)
{
    std::string head;
    char buf[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        if (!WaitReadable(S, IoTimeoutMs))
            return {};
        const int n = recv(S, buf, static_cast<int>(sizeof buf), 0);
        if (n <= 0)
            return {};
        head.append(buf, static_cast<std::size_t>(n));
    }
    return head.substr(0, head.find("\r\n"));
}

// "GET /<path> HTTP/1.0" -> path (empty when the line has no "/").
std::string RequestPath(const std::string& Line)
{
    const auto slash = Line.find(" /");
    if (slash == std::string::npos)
        return {};
    const auto end = Line.find(' ', slash + 2);
    return Line.substr(slash + 2, end == std::string::npos ? std::string::npos : end - slash - 2);
}

// A decimal size -> size.
bool ParseSize(const std::string& Path, std::size_t& Size)
{
    const char* first = Path.data();
    const char* last = first + Path.size();
    const auto [end, ec] = std::from_chars(first, last, Size);
    return ec == std::errc() && end != first && end == last;
}

bool SendAll(SOCKET S, const char* Data, std::size_t Len)
{
    while (Len > 0) {
        const int n = send(S, Data, static_cast<int>(std::min<std::size_t>(Len, SendPiece)), 0);
        if (n <= 0)
            return false;
        Data += n;
        Len -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

THttpBenchServer::THttpBenchServer(TFiles Files) : files_(std::move(Files)), pattern_(PatternSize)
{
    std::mt19937 rng(20240607);
    for (auto& b : pattern_)
        b = static_cast<std::uint8_t>(rng());
    if (!winsock_.Started)
        throw std::runtime_error("WinSock did not start");
    sockaddr_in addr;
    listener_ = qm::bench::ListenOnLoopback(4, addr);
    if (!listener_)
        throw std::runtime_error("the loopback server cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

THttpBenchServer::~THttpBenchServer()
{
    stopping_ = true;
    thread_.join();
}

std::string THttpBenchServer::Url(std::size_t Size) const
{
    return BaseUrl() + std::to_string(Size);
}

std::string THttpBenchServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

// Polls the listener so that a stop request is seen within 200 ms.
void THttpBenchServer::Serve()
{
    while (!stopping_) {
        if (!WaitReadable(listener_.Get(), 200))
            continue;
        qm::bench::Socket client(accept(listener_.Get(), nullptr, nullptr));
        if (client)
            Answer(client.Get());
    }
}

void THttpBenchServer::Answer(SOCKET Client)
{
    const int timeout = IoTimeoutMs; // a client that stops reading cannot hold the thread
    setsockopt(Client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    const std::string path = RequestPath(ReadRequestLine(Client));
    const auto file = files_.find(path);
    std::size_t size = 0;
    if (file == files_.end() && !ParseSize(path, size)) {
        static constexpr char missing[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        SendAll(Client, missing, sizeof missing - 1);
        return;
    }
    if (file != files_.end())
        size = file->second.size();
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(size) + "\r\n\r\n";
    if (!SendAll(Client, head.data(), head.size()))
        return;
    if (file != files_.end() ? !SendAll(Client, file->second.data(), size) : !SendPattern(Client, size))
        return;
    // Close gracefully: let the client see the end, then wait briefly for
    // its own close so no unread request byte turns the close into a reset.
    shutdown(Client, 1);
    char sink[512];
    while (WaitReadable(Client, 2000) && recv(Client, sink, static_cast<int>(sizeof sink), 0) > 0) {
    }
}

bool THttpBenchServer::SendPattern(SOCKET Client, std::size_t Size) const
{
    std::vector<char> piece(SendPiece);
    for (std::size_t sent = 0; sent < Size;) {
        if (stopping_)
            return false;
        const std::size_t n = std::min(piece.size(), Size - sent);
        ForEachPatternRun(sent, n, [&](std::size_t Done, const std::uint8_t* Run, std::size_t Len) {
            std::memcpy(piece.data() + Done, Run, Len);
            return true;
        });
        if (!SendAll(Client, piece.data(), n))
            return false;
        sent += n;
    }
    return true;
}

bool THttpBenchServer::FileMatches(const std::string& Path, std::size_t Size) const
{
    struct Closer {
        void operator()(std::FILE* F) const { std::fclose(F); }
    };
    const std::unique_ptr<std::FILE, Closer> f(std::fopen(Path.c_str(), "rb"));
    if (!f)
        return false;
    std::vector<std::uint8_t> buf(std::size_t{1} << 20);
    std::size_t offset = 0;
    for (;;) {
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), f.get());
        if (offset + n > Size)
            return false;
        const bool same = ForEachPatternRun(offset, n, [&](std::size_t Done, const std::uint8_t* Run, std::size_t Len) {
            return std::memcmp(buf.data() + Done, Run, Len) == 0;
        });
        if (!same)
            return false;
        offset += n;
        if (n < buf.size())
            return offset == Size;
    }
}

} // namespace qmbench
