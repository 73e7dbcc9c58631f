// The handshake, record decryption and encryption of TTlsSession.
#include "net/TlsSession.h"

#include "net/TlsCertCheck.h"
#include "net/TlsConnectionText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace qm {
namespace {

// Room offered to one read from the socket: many records (each at most
// 16 KiB of data plus its header and trailer) in one socket call.
constexpr std::size_t inputRead = 256 * 1024;

// The channel uses only the credential given: it neither looks for a
// client certificate of the user's nor sends one when a server asks.
constexpr DWORD contextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_USE_SUPPLIED_CREDS;
// Versions this client speaks; anything older is refused after the handshake
// even where the system allowed it.
constexpr DWORD acceptedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
// The content type of a TLS 1.2 record that carries an alert (its header is
// not encrypted).
constexpr unsigned char alertRecord = 21;

std::string StatusText(const char* What, SECURITY_STATUS Status)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s (security status 0x%08lX)", What, static_cast<unsigned long>(Status));
    return text;
}

// The output of InitializeSecurityContext: with ISC_REQ_ALLOCATE_MEMORY the
// channel allocates a token (the handshake message), an alert (after a
// failure, with ISC_REQ_EXTENDED_ERROR) and may fill the empty third buffer;
// each is freed by it.
class TOutToken {
public:
    explicit TOutToken(const SecurityFunctionTableA& Sspi) : sspi_(Sspi) {}
    ~TOutToken()
    {
        for (const SecBuffer& b : buffers_)
            if (b.pvBuffer)
                sspi_.FreeContextBuffer(b.pvBuffer);
    }
    TOutToken(const TOutToken&) = delete;
    TOutToken& operator=(const TOutToken&) = delete;

    SecBufferDesc* Desc() { return &desc_; }
    // The token, then the alert, to be sent in that order.
    void AppendTo(std::string& Out) const
    {
        for (const SecBuffer& b : buffers_)
            if ((b.BufferType == SECBUFFER_TOKEN || b.BufferType == SECBUFFER_ALERT) && b.pvBuffer && b.cbBuffer > 0)
                Out.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
    }

private:
    const SecurityFunctionTableA& sspi_;
    SecBuffer buffers_[3] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc_{SECBUFFER_VERSION, 3, buffers_};
};

std::future<std::string> JudgeServerCertificate(const SecurityFunctionTableA& Sspi, CtxtHandle* Context,
                                                const std::string& ServerName, std::function<void()> Done)
{
    TCertContext cert;
    if (Sspi.QueryContextAttributesA(Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, cert.out()) != SEC_E_OK || !cert.get()) {
        std::promise<std::string> none;
        none.set_value("the server sent no certificate");
        return none.get_future();
    }
    return StartServerCertificateCheck(cert.get(), ServerName, std::move(Done));
}

} // namespace

TTlsSystem SystemTls()
{
    // The one credential of the process (TlsCredential.h), freed at its end.
    static TTlsCredential credential(SystemBuildNumber());
    return {InitSecurityInterfaceA(), JudgeServerCertificate, &credential};
}

TTlsSession::TTlsSession(std::string ServerName, TTlsSystem System)
    : serverName_(std::move(ServerName)), system_(System)
{
}

// A handshake (or a handshake message after it) that failed; after a request
// for a client certificate, that is most likely why.
TTlsSession::TProgress TTlsSession::Refused(const char* What, SECURITY_STATUS Status)
{
    std::string reason = StatusText(What, Status);
    if (certAsked_)
        reason = "the server asked for a client certificate, which this client does not have, and refused the "
                 "connection: " + reason;
    return Fail(std::move(reason));
}

TTlsSession::TProgress TTlsSession::Fail(std::string Reason)
{
    if (!failed_)
        failure_ = std::move(Reason);
    failed_ = true;
    established_ = false;
    return TProgress::Failed;
}

bool TTlsSession::Begin(std::string& Out)
{
    if (!system_.Sspi || !system_.Credential || !(cred_ = system_.Credential->Get(*system_.Sspi))) {
        Fail("no TLS 1.2 credentials from the security channel");
        return false;
    }
    const SecurityFunctionTableA& sspi = *system_.Sspi;
    TOutToken token(sspi);
    ULONG attributes = 0;
    // The target name is sent as the server name indication.
    const SECURITY_STATUS status =
        sspi.InitializeSecurityContextA(cred_, nullptr, serverName_.data(), contextFlags, 0, 0, nullptr, 0,
                                        ctxt_.out(), token.Desc(), &attributes, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED) {
        Fail(StatusText("the TLS handshake could not start", status));
        return false;
    }
    ctxt_.set(sspi.DeleteSecurityContext);
    token.AppendTo(Out);
    return true;
}

std::span<char> TTlsSession::InputSpace()
{
    return in_.Space(inputRead);
}

void TTlsSession::InputReceived(std::size_t Count)
{
    // Whatever follows the peer's close_notify is not part of the session.
    if (!peerClosed_)
        in_.Received(Count);
}

TTlsSession::TProgress TTlsSession::Process(std::string& Out)
{
    TProgress result = TProgress::Pending;
    if (judging_ && (result = TakeVerdict()) != TProgress::Established)
        return result;
    for (bool again = true; again && !failed_ && !judging_;) {
        again = false;
        const TProgress step = established_ && !postHandshake_ ? DecryptStep(again) : HandshakeStep(Out, again);
        if (step == TProgress::Failed)
            return step;
        // The close_notify right behind the server's Finished: both happened.
        if (step == TProgress::PeerClosed)
            return result == TProgress::Established ? result : step;
        if (step == TProgress::Established)
            result = step;
    }
    return failed_ ? TProgress::Failed : result;
}

// One call of InitializeSecurityContext on the bytes held: the handshake, or
// a handshake message that the server sent after it. Again: bytes are left
// that the next step may use.
TTlsSession::TProgress TTlsSession::HandshakeStep(std::string& Out, bool& Again)
{
    // After a message that DecryptMessage reported, the call is due even when
    // nothing followed that message.
    if (in_.Empty() && !callDue_)
        return TProgress::Pending;
    callDue_ = false;
    const SecurityFunctionTableA& sspi = *system_.Sspi;
    const std::size_t held = in_.Held();
    SecBuffer inBuffers[2] = {{static_cast<ULONG>(held), SECBUFFER_TOKEN, in_.Data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc in{SECBUFFER_VERSION, 2, inBuffers};
    TOutToken token(sspi);
    ULONG attributes = 0;
    // The context handle stays the same; Windows wants it back as the new one.
    const SECURITY_STATUS status =
        sspi.InitializeSecurityContextA(cred_, ctxt_.get(), serverName_.data(), contextFlags, 0, 0, &in, 0,
                                        ctxt_.get(), token.Desc(), &attributes, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return TProgress::Pending;
    // Also on failure: with an extended error the alert comes out.
    token.AppendTo(Out);
    const bool retry = status == SEC_I_INCOMPLETE_CREDENTIALS;
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && !(retry && !credRetry_))
        return Refused(established_ ? "a TLS handshake message after the handshake failed"
                                    : "the TLS handshake with the server failed",
                       status);
    in_.Skip(inBuffers[1].BufferType == SECBUFFER_EXTRA ? held - inBuffers[1].cbBuffer : held);
    Again = !in_.Empty();
    // The server asked for a client certificate; the channel has none to
    // give and goes on without one when called again, bytes held or not.
    credRetry_ = retry;
    if (retry) {
        certAsked_ = callDue_ = Again = true;
        return TProgress::Pending;
    }
    if (status == SEC_I_CONTINUE_NEEDED)
        return TProgress::Pending;
    if (established_) {
        // Done with the message; what is left are records for DecryptMessage,
        // and the application bytes that waited go out behind the answer.
        postHandshake_ = false;
        EncryptRecords(heldPlain_.data(), heldPlain_.size(), Out);
        heldPlain_.clear();
        return failed_ ? TProgress::Failed : TProgress::Pending;
    }
    if (!Finish())
        return TProgress::Failed;
    judging_ = true;
    verdict_ = system_.JudgeServer(sspi, ctxt_.get(), serverName_, wake_);
    return TakeVerdict();
}

// The certificate's verdict once it is in; Pending until then.
TTlsSession::TProgress TTlsSession::TakeVerdict()
{
    if (verdict_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return TProgress::Pending;
    judging_ = false;
    if (std::string problem = verdict_.get(); !problem.empty())
        return Fail(std::move(problem));
    established_ = true;
    return TProgress::Established;
}

// After the handshake: the version and the record sizes (the certificate is
// judged next).
bool TTlsSession::Finish()
{
    const SecurityFunctionTableA& sspi = *system_.Sspi;
    SecPkgContext_ConnectionInfo info{};
    if (sspi.QueryContextAttributesA(ctxt_.get(), SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
        Fail("the security channel does not tell the negotiated TLS version");
        return false;
    }
    if ((info.dwProtocol & acceptedProtocols) == 0) {
        Fail("the server negotiated a protocol older than TLS 1.2");
        return false;
    }
    tls13_ = (info.dwProtocol & SP_PROT_TLS1_3) != 0;
    SecPkgContext_StreamSizes sizes{};
    if (sspi.QueryContextAttributesA(ctxt_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
        sizes.cbMaximumMessage == 0) {
        Fail("the security channel does not tell the TLS record sizes");
        return false;
    }
    connection_ = TlsConnectionText(sspi, ctxt_.get(), info);
    // A resumed session is checked like a new one; the log tells it apart.
    SecPkgContext_SessionInfo session{};
    if (sspi.QueryContextAttributesA(ctxt_.get(), SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK &&
        (session.dwFlags & SSL_SESSION_RECONNECT))
        connection_ += ", resumed";
    header_ = sizes.cbHeader;
    trailer_ = sizes.cbTrailer;
    maxMessage_ = sizes.cbMaximumMessage;
    return true;
}

// Decrypts the first whole record held, in place, and moves its data to the
// plain buffer.
TTlsSession::TProgress TTlsSession::DecryptStep(bool& Again)
{
    if (in_.Empty() || peerClosed_)
        return TProgress::Pending;
    const std::size_t held = in_.Held();
    const auto recordType = static_cast<unsigned char>(in_.Data()[0]);
    SecBuffer buffers[4] = {{static_cast<ULONG>(held), SECBUFFER_DATA, in_.Data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = system_.Sspi->DecryptMessage(ctxt_.get(), &message, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return TProgress::Pending;
    if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE)
        return Fail(StatusText("a TLS record from the server could not be decrypted", status));
    std::size_t data = 0;
    std::size_t taken = held;
    for (const SecBuffer& b : buffers) {
        if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
            plain_.Append(b.pvBuffer, b.cbBuffer);
            data += b.cbBuffer;
        } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
            taken = held - b.cbBuffer;
        }
    }
    in_.Skip(taken);
    if (status == SEC_I_RENEGOTIATE)
        return PostHandshake(Again);
    // Windows reports close_notify as a context that expired; some
    // implementations as an alert record that gave no data. An application
    // record without data is allowed and skipped.
    if (status == SEC_I_CONTEXT_EXPIRED || (data == 0 && recordType == alertRecord))
        return EndInput();
    Again = !in_.Empty();
    return TProgress::Pending;
}

// DecryptMessage took a handshake message. Windows wants
// InitializeSecurityContext called at once with the bytes that followed it
// (its extra buffer, or none); then as for a new connection until the
// context is complete again. On TLS 1.3 that is a session ticket or a key
// update; on TLS 1.2 the server asks to renegotiate, which could bring
// another certificate in: refused.
TTlsSession::TProgress TTlsSession::PostHandshake(bool& Again)
{
    if (!tls13_)
        return Fail("the server asked to renegotiate the TLS 1.2 session, which this client refuses");
    postHandshake_ = true;
    callDue_ = true;
    Again = true;
    return TProgress::Pending;
}

TTlsSession::TProgress TTlsSession::EndInput()
{
    peerClosed_ = true;
    in_.Clear();
    return TProgress::PeerClosed;
}

// EncryptMessage must not run while the channel waits for the rest of a
// handshake message: what is written then waits for the answer.
bool TTlsSession::Encrypt(const void* Data, std::size_t Len, std::string& Out)
{
    if (established_ && postHandshake_) {
        heldPlain_.append(static_cast<const char*>(Data), Len);
        return true;
    }
    return EncryptRecords(static_cast<const char*>(Data), Len, Out);
}

bool TTlsSession::EncryptRecords(const char* bytes, std::size_t Len, std::string& Out)
{
    for (std::size_t done = 0; done < Len && established_;) {
        const std::size_t piece = std::min<std::size_t>(Len - done, maxMessage_);
        const std::size_t at = Out.size();
        Out.resize(at + header_ + piece + trailer_);
        char* record = Out.data() + at;
        std::memcpy(record + header_, bytes + done, piece);
        SecBuffer buffers[4] = {{header_, SECBUFFER_STREAM_HEADER, record},
                                {static_cast<ULONG>(piece), SECBUFFER_DATA, record + header_},
                                {trailer_, SECBUFFER_STREAM_TRAILER, record + header_ + piece},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = system_.Sspi->EncryptMessage(ctxt_.get(), 0, &message, 0);
        if (status != SEC_E_OK) {
            Out.resize(at);
            Fail(StatusText("a TLS record could not be encrypted", status));
            return false;
        }
        // The trailer may come out shorter than its maximum.
        Out.resize(at + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        done += piece;
    }
    return established_;
}

void TTlsSession::Shutdown(std::string& Out)
{
    if (!established_)
        return;
    established_ = false;
    const SecurityFunctionTableA& sspi = *system_.Sspi;
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (sspi.ApplyControlToken(ctxt_.get(), &controlDesc) != SEC_E_OK)
        return;
    TOutToken token(sspi);
    ULONG attributes = 0;
    sspi.InitializeSecurityContextA(cred_, ctxt_.get(), serverName_.data(), contextFlags, 0, 0, nullptr, 0,
                                    ctxt_.get(), token.Desc(), &attributes, nullptr);
    token.AppendTo(Out);
}

} // namespace qm
