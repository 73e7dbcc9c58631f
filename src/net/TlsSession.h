// TTlsSession: the client side of one TLS connection through the Windows
// security channel (SSPI), on byte buffers only: it knows no socket. The
// owner moves bytes between it and the network.
//
// Call order:
//   Begin(Out)            write the first handshake message to Out, with the
//                         system's shared credential (TlsCredential.h);
//   InputSpace()/InputReceived(n)
//                         hand over bytes read from the peer;
//   Process(Out)          runs the handshake on them (Out receives what must
//                         be sent), and once it is complete decrypts whole
//                         records into the plain buffer; partial records stay
//                         held until the rest arrives;
//   ReadPlain(...)        takes decrypted bytes, in any piece size;
//   Encrypt(...)          turns application bytes into records (while a
//                         handshake message after the handshake is being
//                         answered, they wait, and a later Process writes
//                         them to its Out once the answer is complete);
//   Shutdown(Out)         writes close_notify (also after the peer's).
// When the handshake completes, the negotiated version must be TLS 1.2 or
// newer and the server's certificate must pass CheckServerCertificate for
// the server name (on every connection, a resumed one too); otherwise
// Process fails. The check runs off the caller's thread: until its verdict
// is in, Process leaves the bytes held alone and reports Pending; the
// function given to OnVerdict is called (on the check's thread) when it is
// in, and the next Process takes it.
//
// A server that asks for a client certificate, during the handshake or
// after it, gets none: the channel is told to use only what it was given
// and called again when it says its credentials are incomplete. A server
// that then refuses the connection fails it with a reason that says it
// asked for a client certificate.
//
// After the handshake, Process also answers the handshake messages the
// server may send: on TLS 1.3 (session tickets, key updates) they are handed
// to the security channel at once and decryption goes on behind them (the
// certificate cannot change there, so it is not judged again); on TLS 1.2
// the server's request to renegotiate fails the session. The peer's
// close_notify ends the input (PeerClosed; bytes after it are dropped); an
// empty record is skipped. When one call completes the handshake and meets
// the close_notify behind it, it reports Established; PeerClosed() is then
// already true.
//
// Errors: Begin, Process and Encrypt report failure by their result; then
// Failure() says why in a sentence for the user, and the session is unusable.
// Nothing here raises. Everything runs on the caller's thread.
#pragma once

#include "net/ReadAhead.h"
#include "net/SspiHandles.h"
#include "net/TlsCredential.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <vector>

namespace qm {

// What a session asks of the system: the security channel's functions, and
// the judge of the certificate the server presented. A test fills its own
// to play the answers of a system it does not run on.
struct TTlsSystem {
    const SecurityFunctionTableA* Sspi = nullptr;
    // The verdict on the certificate that the server presented on Context,
    // for ServerName: empty when it passes, otherwise the reason it is
    // refused. It may come later, from another thread, which then calls Done.
    std::future<std::string> (*JudgeServer)(const SecurityFunctionTableA& Sspi, CtxtHandle* Context,
                                            const std::string& ServerName, std::function<void()> Done) = nullptr;
    // The credential every connection is made with.
    TTlsCredential* Credential = nullptr;
};

// The security channel of this system (nullptr Sspi when it has none), the
// program's own certificate check and the process's credential.
TTlsSystem SystemTls();

class TTlsSession {
public:
    enum class TProgress : std::uint8_t {
        Pending,     // nothing more can be done until more bytes arrive
        Established, // the handshake completed in this call (records, even
                     // close_notify, may follow)
        PeerClosed,  // the peer sent close_notify (in this call, after the handshake)
        Failed,      // see Failure()
    };

    explicit TTlsSession(std::string ServerName, TTlsSystem System = SystemTls());

    // Before Begin: what to call, on another thread, when a verdict is in.
    void OnVerdict(std::function<void()> Wake) { wake_ = std::move(Wake); }
    bool Begin(std::string& Out);
    // 256 KiB of room behind the bytes held (the buffer grows as needed).
    std::span<char> InputSpace();
    void InputReceived(std::size_t Count);
    TProgress Process(std::string& Out);

    std::size_t PlainHeld() const { return plain_.Held(); }
    std::size_t ReadPlain(void* Buffer, std::size_t Size) { return plain_.Read(Buffer, Size); }
    // Appends the records for Data to Out (or holds Data, see above); false
    // once the session failed.
    bool Encrypt(const void* Data, std::size_t Len, std::string& Out);
    // Appends close_notify to Out (nothing when the session is not open).
    void Shutdown(std::string& Out);

    bool Established() const { return established_; }
    bool PeerClosed() const { return peerClosed_; }
    // Bytes of an unfinished record (or handshake message) held.
    bool PartialInputHeld() const { return !in_.Empty(); }
    const std::string& Failure() const { return failure_; }
    // The server asked for a client certificate on this connection.
    bool ClientCertificateAsked() const { return certAsked_; }
    // The negotiated version and cipher suite once established (for the log).
    const std::string& Connection() const { return connection_; }

private:
    TProgress HandshakeStep(std::string& Out, bool& Again);
    TProgress DecryptStep(bool& Again);
    TProgress PostHandshake(bool& Again);
    bool Finish();
    TProgress TakeVerdict();
    TProgress Fail(std::string Reason);
    TProgress Refused(const char* What, SECURITY_STATUS Status);
    bool EncryptRecords(const char* Data, std::size_t Len, std::string& Out);
    TProgress EndInput();

    std::string serverName_;
    TTlsSystem system_;
    CredHandle* cred_ = nullptr; // the system's
    TCtxtHandle ctxt_;
    bool established_ = false;
    bool peerClosed_ = false;
    bool tls13_ = false;          // the version the handshake settled on
    bool postHandshake_ = false;  // handshake messages after the handshake are being taken
    bool callDue_ = false;        // ... and the security channel must be called, bytes held or not
    bool failed_ = false;
    bool judging_ = false;        // the certificate's verdict is awaited
    bool certAsked_ = false;      // the server asked for a client certificate
    bool credRetry_ = false;      // the last call said the credentials were incomplete
    std::uint32_t header_ = 0, trailer_ = 0, maxMessage_ = 0; // record sizes
    TReadAhead in_; // bytes from the peer not yet taken by the channel
    TReadAhead plain_;
    std::future<std::string> verdict_;
    std::function<void()> wake_;
    std::string heldPlain_; // application bytes waiting for a post-handshake answer
    std::string failure_;
    std::string connection_;
};

} // namespace qm
