// The request side of THttpCli: starting a request, the lookup and connect
// handlers, the request text and the post data.
#include "http/HttpProt.h"

#include "base/Events.h"
#include "http/HttpProtText.h"
#include "net/WSocketErrors.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace qm {
namespace {

constexpr std::size_t maxDocName = 255;

std::string WithCode(const std::string& Text, int Code)
{
    return Text + " (Error #" + std::to_string(Code) + ")";
}

} // namespace

void THttpCli::StartRequest(THttpRequest RqType)
{
    if (state_ != hsReady)
        throw EHttpException("HTTP component is busy", 1);
    if (RqType == rqPost && !SendStream)
        throw EHttpException("HTTP component has nothing to post", 2);
    requestType_ = RqType;
    requestDoneError_ = 0;
    failure_ = TRequestFailure::None;
    retryAfter_.clear();
    closeRelocates_ = false;
    relocations_ = 0;
    ending_ = false;
    if (!SetState(hsConnecting))
        return; // destroyed, or aborted, by the state-change handler
    docName_.clear();
    statusCode_ = 0;
    contentLength_.reset();
    rcvdHeader_.Clear();
    rcvdCount_ = 0;
    sentCount_ = 0;
    headerLines_ = 0;
    docChunks_ = 0;
    sending_ = false;
    DropReceived();
    SplitRequestURL();
    authOrigin_ = RequestOrigin();
    StartStallWatch();
    const auto alive = socket_.Alive();
    try {
        StartConnection();
    } catch (...) {
        // The socket refused the lookup: ready again before the caller hears.
        if (alive && state_ == hsDnsLookup)
            SetState(hsReady, false);
        throw;
    }
}

void THttpCli::SplitRequestURL()
{
    const TUrlParts url = SplitURL(URL);
    std::string host = url.Host;
    std::string port = url.Port;
    targetHost_ = url.Host;
    if (Proxy.empty()) {
        path_ = url.Path;
        if (port.empty())
            port = "80";
    } else {
        path_ = url.Proto.empty() ? std::string("http://").append(URL) : URL;
        const TUrlParts proxy = SplitURL(Proxy);
        host = proxy.Host;
        port = proxy.Port.empty() ? ProxyPort : proxy.Port;
    }
    credentialsInURL_ = !url.User.empty();
    if (!url.User.empty())
        Username = url.User;
    if (!url.Pass.empty())
        Password = url.Pass;
    if (path_.empty())
        path_.assign(1, '/');
    SetDocNameFromPath(url.Path);
    hostName_ = host;
    port_ = port;
    ChooseScheme(url);
}

void THttpCli::SetDocNameFromPath(const std::string& Path)
{
    if (Path.empty() || Path == "/") {
        docName_ = "document.htm";
        return;
    }
    std::string_view name = Path;
    if (name.back() == '/')
        name.remove_suffix(1);
    name = name.substr(LastPos('/', name)).substr(0, maxDocName);
    docName_.assign(name.substr(0, name.find('?')));
}

// A relocation's next connection; a host the socket refuses to look up ends
// the request like a failed lookup.
void THttpCli::StartNextHop()
{
    const auto alive = socket_.Alive();
    try {
        StartConnection();
    } catch (const ESocketException&) {
        if (!alive)
            return;
        statusCode_ = 404;
        reasonPhrase_ = "can't resolve hostname to IP address";
        failure_ = TRequestFailure::Lookup;
        EndConnection();
    }
}

void THttpCli::SocketDnsLookupDone(std::uint16_t Error)
{
    if (ending_)
        return; // the request has ended (a stall) while the lookup ran
    Arrived();
    if (Error != 0) {
        if (state_ == hsAborting || state_ == hsReady)
            return; // the abort finishes the request
        statusCode_ = 404;
        reasonPhrase_ = "can't resolve hostname to IP address";
        failure_ = TRequestFailure::Lookup;
        SocketSessionClosed(0);
        return;
    }
    if (state_ != hsDnsLookup || !SetState(hsConnecting))
        return;
    const auto alive = socket_.Alive();
    try {
        socket_.SetAddr(socket_.DnsResult());
        socket_.SetPort(port_);
        socket_.SetProto("tcp");
        socket_.Connect();
    } catch (...) {
        if (!alive)
            return;
        const std::int32_t code = socket_.LastError();
        requestDoneError_ = code;
        statusCode_ = 404;
        reasonPhrase_ = "can't connect: " + WithCode(SocketErrorText(code), code);
        failure_ = TRequestFailure::Connect;
        EndConnection();
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t Error)
{
    if (OpenTunnel(Error))
        return;
    if (state_ != hsConnecting)
        return; // aborted meanwhile
    Arrived();
    if (Error != 0 && socket_.TlsFailure().empty() && socket_.ForgetKeptLookup()) {
        // The kept address may have gone stale: the socket's close after
        // this event starts a fresh lookup (RelocationClosed).
        closeRelocates_ = true;
        return;
    }
    if (Error != 0) {
        statusCode_ = 404;
        reasonPhrase_ = socket_.TlsFailure().empty() ? WithCode(SocketErrorText(Error), Error) : socket_.TlsFailure();
        failure_ = socket_.TlsFailure().empty() ? TRequestFailure::Connect : TRequestFailure::Tls;
        SocketSessionClosed(0);
        return;
    }
    lineConsumer_ = &THttpCli::HeaderLine;
    DropReceived();
    headerBytes_ = 0;
    contentLength_.reset(); // of this hop's response
    if (!SetState(hsConnected))
        return;
    const auto alive = socket_.Alive();
    try {
        switch (requestType_) {
        case rqGet:
            SendRequest("GET");
            break;
        case rqHead:
            SendRequest("HEAD");
            break;
        case rqPost:
            if (!SendRequest("POST"))
                break;
            DoSendBegin();
            if (!alive || state_ != hsConnected)
                break;
            sending_ = true;
            SocketDataSent(0);
            break;
        case rqNone:
            break;
        }
    } catch (...) {
        // The close that follows ends the request.
        if (alive)
            Disconnect();
    }
}

std::vector<std::string> THttpCli::RequestLines(const std::string& Method) const
{
    const bool post = Method == "POST";
    std::vector<std::string> lines{Method + " " + path_ + " HTTP/1.0"};
    const auto add = [&lines](bool Condition, std::string Line) {
        if (Condition)
            lines.push_back(std::move(Line));
    };
    add(!Sender.empty(), "From: " + Sender);
    add(!Reference.empty(), "Referer: " + Reference);
    add(post && !ContentTypePost.empty(), "Content-Type: " + ContentTypePost);
    add(!Agent.empty(), "User-Agent: " + Agent);
    add(true, "Host: " + targetHost_);
    add(NoCache, "Pragma: no-cache");
    add(post, "Content-Length: " + std::to_string(post ? SendStream->Size() : 0));
    add(ModifiedSince != 0, "If-Modified-Since: " + (ModifiedSince != 0 ? FormatHttpDate(ModifiedSince) : "") + " GMT");
    if (!Username.empty()) {
        const std::string credentials = EncodeBase64(Username + ":" + Password);
        // A proxy's password never to a web server, and a server's never to
        // a server a relocation named: it did not get them from the user.
        add(!CredentialsForProxy() && RequestOrigin() == authOrigin_, "Authorization: Basic " + credentials);
        // A tunnel's went in CONNECT.
        add(CredentialsForProxy() && !tunnel_, "Proxy-Authorization: Basic " + credentials);
    }
    add(!Cookie.empty(), "Cookie: " + Cookie);
    return lines;
}

// Composes the request and hands it to the socket in one Send. False when a
// handler ended the request (or destroyed the client) meanwhile.
bool THttpCli::SendRequest(const std::string& Method)
{
    const auto alive = socket_.Alive();
    const auto goOn = [&] { return alive && state_ == hsConnected; };
    requestText_.clear();
    DoHeaderBegin();
    if (!goOn())
        return false;
    for (const std::string& line : RequestLines(Method)) {
        SendLine(line);
        if (!goOn())
            return false;
    }
    DoHeaderEnd();
    if (!goOn())
        return false;
    SendLine("");
    if (!goOn())
        return false;
    socket_.Send(requestText_.data(), static_cast<int>(requestText_.size()));
    requestText_.clear();
    return alive && state_ == hsConnected;
}

void THttpCli::SendLine(const std::string& Line)
{
    const auto alive = socket_.Alive();
    Fire(OnCommand, *this, Line);
    if (!alive)
        return;
    requestText_ += Line;
    requestText_ += "\r\n";
}

// One piece of post data per sent notification; the notification after the
// last piece ends the body.
void THttpCli::SocketDataSent(std::uint16_t)
{
    if (!sending_ || state_ != hsConnected)
        return;
    const std::int32_t count = SendStream ? SendStream->Read(sendBuffer_, BufferSize) : 0;
    const auto alive = socket_.Alive();
    if (count <= 0) {
        sending_ = false;
        DoSendEnd();
        return;
    }
    sentCount_ += count;
    DoSendData(sendBuffer_, count);
    if (alive && state_ == hsConnected && socket_.State() == wsConnected)
        socket_.Send(sendBuffer_, count);
}

} // namespace qm
