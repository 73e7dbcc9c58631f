// TTlsWSocket: a TWSocket that can speak TLS (through TTlsSession) on its
// connection, driven by the same notifications. Nothing about the protocol
// above it is known here.
//
// Call order:
//  - SetTlsServerName(name) before Connect: when the name is not empty, the
//    handshake runs as soon as the connection is made, and
//    OnSessionConnected fires only when it is over (the server's certificate
//    is checked off the window's thread meanwhile, so messages, and Cancel,
//    keep being handled) (0 after a handshake whose
//    version and certificate passed, TlsFailedError otherwise; the socket
//    then closes). An empty name gives a plain connection, as TWSocket.
//  - or StartTls(name) on a plain connection that is up (a proxy tunnel): the
//    handshake starts now and ends with OnSessionConnected the same way.
//  - Then Send/Receive carry application bytes: Send encrypts and queues the
//    records (bytes sent while the session answers a handshake message
//    after the handshake wait in the session and are queued after it); Receive gives decrypted bytes, in at most Size bytes at a
//    time, and -1 (WSAEWOULDBLOCK) when none are held. OnDataAvailable fires
//    while decrypted bytes are held and the handler takes some; records may
//    arrive in any pieces and may be larger than what a handler takes.
//  - Close sends close_notify first; OnSessionClosed fires as for TWSocket.
//  - The peer's close_notify closes the socket (ours is sent in answer) as
//    soon as the decrypted bytes before it were taken; TlsPeerClosed() then
//    tells this end from a close without it.
// OnDataSent is not raised for the handshake's own messages.
//
// Reading ahead, on plain connections as on TLS ones: with a handler on
// OnDataAvailable, a plain connection reads up to ReadAheadSize bytes per
// recv into a buffer of its own (again while a read fills all it asked for)
// and Receive hands them out in pieces of any size with no socket call;
// once they are gone Receive is TWSocket's recv again (so the handler meets
// the close, 0, or a failure, -1, as before). For both kinds:
//  - OnDataAvailable fires again and again while bytes are held and the
//    handler takes some; a handler that raises leaves the rest for a read
//    notification posted to the socket's window, as WinSock posts one when
//    a recv leaves bytes behind;
//  - RcvdCount, and the read loop, count the bytes held besides those
//    waiting in the socket; after a read that ended short the socket is
//    not asked (it had no more, and WinSock posts a read notification for
//    bytes that come later);
//  - a close from the peer (FD_CLOSE) is raised only after the read loop
//    has offered the bytes held, and what still waited in the socket, to
//    the handler; a local Close or Abort drops the bytes held.
// ReadLine does not see the bytes held: it is not for this socket.
//
// Errors: TlsFailure() says in a sentence why TLS failed on the current (or
// last) connection: the handshake, the version, the server's certificate, a
// record that did not decrypt, the server's request to renegotiate TLS 1.2,
// a server that asked for a client certificate and refused the connection
// without one, or a connection that the peer ended in the middle of the
// handshake or of a record. Empty when nothing failed. It is
// cleared by Connect.
#pragma once

#include "net/ReadAhead.h"
#include "net/TlsSession.h"
#include "net/WSocket.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qm {

class TTlsWSocket : public TWSocket {
public:
    static constexpr std::uint16_t TlsFailedError = WSAECONNABORTED;
    static constexpr int MaxReadAhead = 256 * 1024;

    void SetTlsServerName(std::string Name) { tlsServerName_ = std::move(Name); }
    void StartTls(const std::string& ServerName);
    bool TlsEstablished() const { return session_ && session_->Established(); }
    // The peer sent close_notify on this connection.
    bool TlsPeerClosed() const { return session_ && session_->PeerClosed(); }
    const std::string& TlsFailure() const { return failure_; }
    // Bytes a plain connection asks for per recv (1 to MaxReadAhead); a
    // whole number of the pieces its reader takes keeps every piece whole.
    int ReadAheadSize = MaxReadAhead;
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

protected:
    bool BytesWaiting(u_long& Count) override;

private:
    void Advance(std::uint16_t Error);
    bool ReadAhead(std::uint16_t Error);
    void DeliverPlain(std::uint16_t Error);
    void EndAfterPeerClose();
    std::size_t Held() const { return session_ ? session_->PlainHeld() : readAhead_.Held(); }
    void SendRaw(const std::string& Bytes);
    void Fail(const std::string& Reason);

    std::string tlsServerName_;
    std::unique_ptr<TTlsSession> session_;
    bool handshaking_ = false;
    bool closing_ = false; // Close was called on this connection
    std::string failure_;
    TReadAhead readAhead_;        // plain connections only; TLS holds its own
    std::uint32_t connection_ = 0; // counts Connect calls
    bool drained_ = false;         // the last read ended short
};

} // namespace qm
