// HTTPS in THttpCli: the scheme of the URL and of relocations, the tunnel
// through a proxy (CONNECT), and the checks at the end of a secure request.
// The TLS itself is the socket's (TTlsWSocket).
#include "http/HttpProt.h"

#include "http/HttpProtText.h"
#include "net/WSocketErrors.h"

namespace qm {
namespace {

constexpr char secureScheme[] = "https";
constexpr char securePort[] = "443";

bool IsSecureScheme(const std::string& Proto)
{
    return LowerCase(Proto) == secureScheme;
}

} // namespace

// After the URL was split: an https URL runs over TLS, on port 443 unless it
// names one, and through a proxy inside a tunnel, where the request names
// only the path.
void THttpCli::ChooseScheme(const TUrlParts& Url)
{
    secure_ = IsSecureScheme(Url.Proto);
    tunnel_ = secure_ && !Proxy.empty();
    if (!secure_)
        return;
    tunnelPort_ = Url.Port.empty() ? securePort : Url.Port;
    if (tunnel_)
        path_ = Url.Path.empty() ? "/" : Url.Path;
    else if (Url.Port.empty())
        port_ = securePort;
}

// Before each connection (the first and every relocation).
void THttpCli::PrepareConnection()
{
    tunnelOpen_ = false;
    tunnelStatus_ = 0;
    bodyLength_ = -1;
    socket_.SetTlsServerName(secure_ && !tunnel_ ? targetHost_ : std::string());
}

// A Location that leads to https, or any Location while on https. True when
// handled here; false leaves a plain hop to the plain rules.
bool THttpCli::RelocateSecure(const std::string& Location)
{
    const TUrlParts url = SplitURL(Location);
    const bool toSecure = IsSecureScheme(url.Proto);
    if (!secure_ && !toSecure)
        return false;
    if (secure_ && !url.Proto.empty() && !toSecure) {
        Fail("relocation from https to " + LowerCase(url.Proto) + " refused (a downgrade): " + Location,
             TRequestFailure::Downgrade);
        return true;
    }
    if (toSecure) {
        secure_ = true;
        tunnel_ = !Proxy.empty();
        path_ = url.Path.empty() ? "/" : url.Path;
        targetHost_ = url.Host;
        tunnelPort_ = url.Port.empty() ? securePort : url.Port;
        if (!tunnel_) {
            hostName_ = url.Host;
            port_ = tunnelPort_;
        }
        return true;
    }
    if (!tunnel_)
        return false; // a direct hop on the same scheme: the plain rules hold
    // In the tunnel the request path is the origin's own: relocate as a
    // direct connection would, while the connection goes to the proxy.
    TRequestTarget target{path_, targetHost_, targetHost_, tunnelPort_};
    ApplyLocation(target, Location, false);
    path_ = std::move(target.Path);
    targetHost_ = std::move(target.TargetHost);
    tunnelPort_ = std::move(target.Port);
    return true;
}

bool THttpCli::TunnelPending() const
{
    return tunnel_ && !tunnelOpen_ && state_ == hsConnecting;
}

// The proxy's connection is up: ask it for the tunnel. True when handled.
bool THttpCli::OpenTunnel(std::uint16_t Error)
{
    if (Error != 0 || !TunnelPending())
        return false;
    DropReceived();
    const std::string target = targetHost_ + ":" + tunnelPort_;
    std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
    if (!Username.empty() && CredentialsForProxy())
        request += "Proxy-Authorization: Basic " + EncodeBase64(Username + ":" + Password) + "\r\n";
    if (!Agent.empty())
        request += "User-Agent: " + Agent + "\r\n";
    request += "\r\n";
    const auto alive = socket_.Alive();
    try {
        socket_.SendText(request);
    } catch (...) {
        if (alive)
            Disconnect(); // the close ends the request
    }
    return true;
}

// The proxy's answer to CONNECT: a status line, fields, an empty line. On
// 200 the handshake with the origin server starts inside the tunnel; any
// other answer ends the request with the proxy's status (404 below 400).
void THttpCli::TunnelData()
{
    const int count = socket_.Receive(received_.Space(), received_.Room());
    if (count <= 0)
        return;
    received_.Received(count);
    std::string line;
    while (TunnelPending() && received_.NextLine(line)) {
        if (tunnelStatus_ == 0) {
            const THeaderLine read = ReadHeaderLine(line);
            if (read.Kind != THeaderLine::Status || !read.Error.empty()) {
                Fail("the proxy did not answer the tunnel request: " + line);
                return;
            }
            tunnelStatus_ = read.StatusCode;
            tunnelReason_ = read.ReasonPhrase;
            continue;
        }
        if (!line.empty())
            continue;
        DropReceived();
        if (tunnelStatus_ / 100 != 2) {
            statusCode_ = tunnelStatus_ >= 400 ? tunnelStatus_ : 404;
            reasonPhrase_ = tunnelStatus_ >= 400 ? tunnelReason_
                                                 : "the proxy refused the tunnel: " + std::to_string(tunnelStatus_) +
                                                       " " + tunnelReason_;
            failure_ = tunnelStatus_ >= 400 ? TRequestFailure::Status : TRequestFailure::Malformed;
            EndConnection();
            return;
        }
        tunnelOpen_ = true;
        socket_.StartTls(targetHost_);
        return;
    }
    if (received_.Full() && TunnelPending())
        Fail("the proxy's answer to the tunnel request has a line longer than " + std::to_string(BufferSize - 1) +
             " bytes");
}

// A secure connection that ends on the server's side without the request
// having ended otherwise: a failed session, a document shorter than its
// Content-Length (which over TLS means the response was cut short; the
// answer to HEAD, 204 and 304 carry no document whatever the field says), or
// a document without Content-Length whose end the server did not confirm
// with close_notify (anyone on the path can close a connection). True when
// the request fails for it; Error: the close's own error.
bool THttpCli::CheckSecureEnd(std::uint16_t Error)
{
    if (!secure_ || ending_ || state_ == hsReady || state_ == hsAborting || statusCode_ >= 400)
        return false;
    std::string reason = socket_.TlsFailure();
    TRequestFailure kind = TRequestFailure::Tls;
    if (reason.empty() && state_ == hsConnecting) {
        reason = "the connection closed before the secure session was set up";
        kind = TRequestFailure::CutShort;
    }
    const bool bodyExpected = requestType_ != rqHead && statusCode_ != 204 && statusCode_ != 304;
    if (reason.empty() && state_ == hsReceiving && bodyExpected && bodyLength_ >= 0 && rcvdCount_ < bodyLength_) {
        reason = "the connection closed after " + std::to_string(rcvdCount_) + " of " + std::to_string(bodyLength_) +
                 " bytes of the document";
        kind = TRequestFailure::ShortBody;
    }
    if (reason.empty() && state_ == hsReceiving && bodyExpected && bodyLength_ < 0 && !socket_.TlsPeerClosed()) {
        reason = "the end of the document was not confirmed: the connection " +
                 (Error != 0 ? "broke (" + SocketErrorText(Error) + ")" : std::string("closed")) +
                 " without the server's TLS close_notify, after " + std::to_string(rcvdCount_) + " bytes";
        kind = TRequestFailure::CutShort;
    }
    if (reason.empty())
        return false;
    statusCode_ = 404;
    reasonPhrase_ = std::move(reason);
    failure_ = kind;
    return true;
}

} // namespace qm
