// A loopback HTTP server for tests, run on a thread of its own so that it
// answers while the test's thread sits in a message loop (a synchronous Get).
// Two modes:
//  - Script: each accepted connection takes the next TExchange: the server
//    reads the request (header up to the empty line, then as many body bytes
//    as its Content-Length says), records it, sends the reply pieces in
//    order (each its own send, after its delay) and ends the connection as
//    told. Connections beyond the script, and connections that close
//    before sending any request byte, are closed at once and take no turn.
//  - Files: "GET /name" of a registered file is answered "HTTP/1.0 200 OK"
//    with Content-Length and the file's bytes; any other request with 404.
// Everything is bounded: a silent client is dropped after 5 s, and the
// destructor stops the thread. Listens on 127.0.0.1 only.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct TScriptStep {
    std::string Bytes;
    unsigned DelayMs = 0; // before this piece is sent
};

struct TExchange {
    enum class TEnd {
        Close,    // orderly close after the last piece
        Reset,    // SO_LINGER 0 and close
        WaitPeer, // keep the connection until the client closes it (up to 5 s)
    };
    std::vector<TScriptStep> Reply;
    TEnd End = TEnd::Close;
};

// Cuts Bytes into pieces of PieceSize bytes, each sent after DelayMs.
std::vector<TScriptStep> Pieces(const std::string& Bytes, std::size_t PieceSize, unsigned DelayMs);

class TScriptedServer {
public:
    TScriptedServer();
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string Address() const;

    // Script mode: replaces the exchanges still to come.
    void Script(std::vector<TExchange> Exchanges);
    // Files mode (from the first call on).
    void AddFile(const std::string& Name, std::string Bytes);

    // The requests received so far, one per connection that sent one, byte
    // for byte.
    std::vector<std::string> Requests() const;
    std::size_t Connections() const { return connections_; }

private:
    void Run();
    void Serve(std::uintptr_t Client);
    TExchange NextExchange(const std::string& Request);

    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> connections_{0};
    mutable std::mutex mutex_;
    std::vector<TExchange> script_;
    std::size_t nextExchange_ = 0;
    bool filesMode_ = false;
    std::map<std::string, std::string> files_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace qm::test
