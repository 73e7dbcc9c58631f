// TTlsWSocket: a TWSocket that can speak TLS (through TTlsSession) on its
// connection, driven by the same notifications. Nothing about the protocol
// above it is known here.
//
// Call order:
//  - SetTlsServerName(name) before Connect: when the name is not empty, the
//    handshake runs as soon as the connection is made, and
//    OnSessionConnected fires only when it is over (0 after a handshake whose
//    version and certificate passed, TlsFailedError otherwise; the socket
//    then closes). An empty name gives a plain connection, as TWSocket.
//  - or StartTls(name) on a plain connection that is up (a proxy tunnel): the
//    handshake starts now and ends with OnSessionConnected the same way.
//  - Then Send/Receive carry application bytes: Send encrypts and queues the
//    records; Receive gives decrypted bytes, in at most Size bytes at a
//    time, and -1 (WSAEWOULDBLOCK) when none are held. OnDataAvailable fires
//    while decrypted bytes are held and the handler takes some; records may
//    arrive in any pieces and may be larger than what a handler takes.
//  - Close sends close_notify first; OnSessionClosed fires as for TWSocket.
// OnDataSent is not raised for the handshake's own messages.
//
// Errors: TlsFailure() says in a sentence why TLS failed on the current (or
// last) connection: the handshake, the version, the server's certificate, a
// record that did not decrypt, or a connection that the peer ended in the
// middle of the handshake or of a record. Empty when nothing failed. It is
// cleared by Connect.
#pragma once

#include "net/TlsSession.h"
#include "net/WSocket.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qm {

class TTlsWSocket : public TWSocket {
public:
    static constexpr std::uint16_t TlsFailedError = WSAECONNABORTED;

    void SetTlsServerName(std::string Name) { tlsServerName_ = std::move(Name); }
    void StartTls(const std::string& ServerName);
    bool TlsEstablished() const { return session_ && session_->Established(); }
    // The peer sent close_notify on this connection.
    bool TlsPeerClosed() const { return session_ && session_->PeerClosed(); }
    const std::string& TlsFailure() const { return failure_; }
    // The session's version and cipher suite once established; else empty.
    std::string TlsConnection() const { return session_ ? session_->Connection() : std::string(); }

    void Connect() override;
    void Close() override;
    int Receive(void* Buffer, int Size) override;
    int Send(const void* Data, int Len) override;
    bool DoDataAvailable(std::uint16_t Error) override;
    void DoSessionConnected(std::uint16_t Error) override;
    void DoSessionClosed(std::uint16_t Error) override;
    void DoDataSent(std::uint16_t Error) override;

private:
    void Advance(std::uint16_t Error);
    void DeliverPlain(std::uint16_t Error);
    void SendRaw(const std::string& Bytes);
    void Fail(const std::string& Reason);

    std::string tlsServerName_;
    std::unique_ptr<TTlsSession> session_;
    bool handshaking_ = false;
    bool closing_ = false; // Close was called on this connection
    std::string failure_;
};

} // namespace qm
