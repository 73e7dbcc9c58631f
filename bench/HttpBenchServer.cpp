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

// "GET /<size> HTTP/1.0" -> size.
bool ParseSize(const std::string& Line, std::size_t& Size)
{
    const auto slash = Line.find(" /");
    if (slash == std::string::npos)
        return false;
    const char* first = Line.data() + slash + 2;
    const char* last = Line.data() + Line.size();
    const auto [end, ec] = std::from_chars(first, last, Size);
    return ec == std::errc() && end != first && (end == last || *end == ' ');
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

THttpBenchServer::THttpBenchServer() : pattern_(PatternSize)
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
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::to_string(Size);
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
    std::size_t size = 0;
    if (!ParseSize(ReadRequestLine(Client), size)) {
        static constexpr char bad[] = "HTTP/1.0 400 Bad Request\r\n\r\n";
        SendAll(Client, bad, sizeof bad - 1);
        return;
    }
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(size) + "\r\n\r\n";
    if (!SendAll(Client, head.data(), head.size()))
        return;
    std::vector<char> piece(SendPiece);
    for (std::size_t sent = 0; sent < size && !stopping_;) {
        const std::size_t n = std::min(piece.size(), size - sent);
        ForEachPatternRun(sent, n, [&](std::size_t Done, const std::uint8_t* Run, std::size_t Len) {
            std::memcpy(piece.data() + Done, Run, Len);
            return true;
        });
        if (!SendAll(Client, piece.data(), n))
            return;
        sent += n;
    }
    // Close gracefully: let the client see the end, then wait briefly for
    // its own close so no unread request byte turns the close into a reset.
    shutdown(Client, 1);
    char sink[512];
    while (WaitReadable(Client, 2000) && recv(Client, sink, static_cast<int>(sizeof sink), 0) > 0) {
    }
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
