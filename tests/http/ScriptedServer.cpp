#include "ScriptedServer.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>

#include <chrono>
#include <stdexcept>

namespace qm::test {
namespace {

constexpr int silentClientMs = 5000;

SOCKET AsSocket(std::uintptr_t s)
{
    return static_cast<SOCKET>(s);
}

bool SendAll(SOCKET s, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = send(s, bytes.data() + done, static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 16)), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The request header up to the empty line, then its Content-Length body.
std::string ReadRequest(SOCKET s)
{
    std::string got;
    std::size_t need = std::string::npos;
    char buf[4096];
    while (need == std::string::npos || got.size() < need) {
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
        const auto end = got.find("\r\n\r\n");
        if (need == std::string::npos && end != std::string::npos) {
            need = end + 4;
            const auto field = got.find("Content-Length: ");
            if (field != std::string::npos && field < end)
                need += std::stoul(got.substr(field + 16));
        }
    }
    return got;
}

// True when the peer's close is already waiting behind what was read.
bool PeerHasClosed(SOCKET S)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(S, &ready);
    timeval now{0, 0};
    if (select(0, &ready, nullptr, nullptr, &now) <= 0)
        return false;
    char next;
    return recv(S, &next, 1, MSG_PEEK) <= 0;
}

} // namespace

std::vector<TScriptStep> Pieces(const std::string& Bytes, std::size_t PieceSize, unsigned DelayMs)
{
    std::vector<TScriptStep> steps;
    for (std::size_t at = 0; at < Bytes.size(); at += PieceSize)
        steps.push_back({Bytes.substr(at, PieceSize), DelayMs});
    return steps;
}

TScriptedServer::TScriptedServer()
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    listener_ = static_cast<std::uintptr_t>(s);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer()
{
    stop_ = true;
    thread_.join();
    closesocket(AsSocket(listener_));
    WSACleanup();
}

std::string TScriptedServer::Address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void TScriptedServer::Script(std::vector<TExchange> Exchanges)
{
    const std::lock_guard lock(mutex_);
    script_ = std::move(Exchanges);
    nextExchange_ = 0;
}

void TScriptedServer::AddFile(const std::string& Name, std::string Bytes)
{
    const std::lock_guard lock(mutex_);
    filesMode_ = true;
    files_[Name] = std::move(Bytes);
}

std::vector<std::string> TScriptedServer::Requests() const
{
    const std::lock_guard lock(mutex_);
    return requests_;
}

void TScriptedServer::Run()
{
    while (!stop_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(AsSocket(listener_), &ready);
        timeval tick{0, 20000};
        if (select(0, &ready, nullptr, nullptr, &tick) <= 0)
            continue;
        const SOCKET client = accept(AsSocket(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        ++connections_;
        Serve(static_cast<std::uintptr_t>(client));
    }
}

TExchange TScriptedServer::NextExchange(const std::string& Request)
{
    const std::lock_guard lock(mutex_);
    // A connection given up before its request (an aborted connect) takes
    // no turn of the script.
    if (Request.empty())
        return {};
    requests_.push_back(Request);
    if (!filesMode_)
        return nextExchange_ < script_.size() ? script_[nextExchange_++] : TExchange{};
    const auto space = Request.find(' ', 5);
    const std::string name = Request.rfind("GET /", 0) == 0 ? Request.substr(5, space - 5) : std::string();
    const auto file = files_.find(name);
    if (file == files_.end())
        return {{{"HTTP/1.0 404 Not Found\r\n\r\n"}}};
    return {{{"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
              std::to_string(file->second.size()) + "\r\n\r\n" + file->second}}};
}

void TScriptedServer::Serve(std::uintptr_t Client)
{
    const SOCKET s = AsSocket(Client);
    const DWORD timeout = silentClientMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    std::string request = ReadRequest(s);
    // A client that gave up while its connection waited to be accepted (an
    // abort) has closed already: it takes no turn, so the script that a test
    // sets afterwards starts with the test's next connection.
    if (PeerHasClosed(s))
        request.clear();
    const TExchange exchange = NextExchange(request);
    bool open = true;
    for (const TScriptStep& step : exchange.Reply) {
        if (step.DelayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(step.DelayMs));
        if (!(open = SendAll(s, step.Bytes)))
            break;
    }
    if (exchange.End == TExchange::TEnd::Reset) {
        const linger hard{1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    } else if (exchange.End == TExchange::TEnd::WaitPeer && open) {
        char sink[4096];
        while (recv(s, sink, sizeof sink, 0) > 0) {
        }
    } else {
        shutdown(s, 1); // no more sends
    }
    closesocket(s);
}

} // namespace qm::test
