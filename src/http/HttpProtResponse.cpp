// The response side of THttpCli: receiving, cutting header lines, the status
// line and the fields acted on, relocation, document chunks and the end of a
// request.
#include "http/HttpProt.h"

#include "base/Events.h"
#include "http/HttpProtText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

namespace qm {
namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A decimal integer with nothing around it; false when Text is not one.
bool ParseDecimal(const std::string& Text, std::int64_t& Value)
{
    if (Text.empty() || Text.size() > 18)
        return false;
    Value = 0;
    for (const char c : Text) {
        if (c < '0' || c > '9')
            return false;
        Value = Value * 10 + (c - '0');
    }
    return true;
}

bool StartsWith(const std::string& Text, const char* Prefix)
{
    return Text.rfind(Prefix, 0) == 0;
}

// "scheme://authority" of an absolute URL.
std::string OriginOf(const std::string& Url)
{
    const auto scheme = Url.find("://");
    if (scheme == std::string::npos)
        return {};
    return Url.substr(0, Url.find('/', scheme + 3));
}

} // namespace

void THttpCli::DropReceived()
{
    rcvdHeld_ = 0;
    rcvdBuffer_[0] = 0;
}

// Reads once per call: the socket calls again while bytes are waiting.
void THttpCli::SocketDataAvailable(std::uint16_t)
{
    const int room = BufferSize - 1 - rcvdHeld_;
    const int count = socket_.Receive(rcvdBuffer_ + rcvdHeld_, room);
    if (requestType_ == rqNone || count <= 0)
        return;
    rcvdHeld_ += count;
    rcvdBuffer_[rcvdHeld_] = 0;
    if (state_ == hsReceiving) {
        lastLine_.assign(rcvdBuffer_, static_cast<std::size_t>(rcvdHeld_));
        rcvdHeld_ = 0;
        DocChunk();
        return;
    }
    CutHeaderLines();
}

void THttpCli::CutHeaderLines()
{
    const auto alive = socket_.Alive();
    while (rcvdHeld_ > 0) {
        const auto* lf = static_cast<const char*>(std::memchr(rcvdBuffer_, '\n', static_cast<std::size_t>(rcvdHeld_)));
        if (!lf)
            break;
        const auto taken = static_cast<std::int32_t>(lf - rcvdBuffer_) + 1;
        std::int32_t length = taken - 1;
        if (length > 0 && rcvdBuffer_[length - 1] == '\r')
            --length;
        lastLine_.assign(rcvdBuffer_, static_cast<std::size_t>(length));
        rcvdHeld_ -= taken;
        std::memmove(rcvdBuffer_, rcvdBuffer_ + taken, static_cast<std::size_t>(rcvdHeld_));
        rcvdBuffer_[rcvdHeld_] = 0;
        if (state_ == hsConnected || state_ == hsReceiving) {
            (this->*lineConsumer_)();
            if (!alive)
                return;
        }
    }
    // A full buffer without a line end leaves no room to read into.
    if (rcvdHeld_ >= BufferSize - 1 && state_ == hsConnected && !ending_)
        Fail("response header line longer than " + std::to_string(BufferSize - 1) + " bytes");
}

void THttpCli::HeaderLine()
{
    const auto alive = socket_.Alive();
    if (headerLines_++ == 0) {
        DoHeaderBegin();
        if (!alive)
            return;
    }
    if (lastLine_.empty()) {
        HeaderEnd();
        return;
    }
    const std::string line = lastLine_;
    rcvdHeader_.Add(line);
    const bool handled = StartsWith(line, "HTTP/1.0") || StartsWith(line, "HTTP/1.1") ? HandleStatusLine(line)
                         : line.find(':') != std::string::npos                      ? HandleField(line)
                                                                                    : true;
    if (!handled)
        return; // the line was malformed: the request has ended
    Fire(OnHeaderData, *this);
    if (alive && statusCode_ >= 400 && !ending_)
        EndConnection(); // the close ends the request
}

bool THttpCli::HandleStatusLine(const std::string& Line)
{
    const std::string code = Line.size() > 9 ? Line.substr(9, 3) : std::string();
    std::int64_t value = 0;
    if (!ParseDecimal(code, value)) {
        Fail("bad status code in the response: '" + code + "'");
        return false;
    }
    statusCode_ = static_cast<int>(value);
    reasonPhrase_ = Line.size() > 13 ? Line.substr(13) : std::string();
    return true;
}

bool THttpCli::HandleField(const std::string& Line)
{
    const auto colon = Line.find(':');
    const std::string name = Lower(Line.substr(0, colon));
    const auto start = Line.find_first_not_of(" \t", colon + 1);
    const std::string value = start == std::string::npos ? std::string() : Line.substr(start);
    if (name == "location") {
        Relocate(value);
    } else if (name == "content-length") {
        if (!ParseDecimal(value, contentLength_)) {
            Fail("bad Content-Length in the response: '" + value + "'");
            return false;
        }
    } else if (name == "content-type") {
        contentType_ = value;
    } else if (name == "www-authenticate") {
        wwwAuthenticate_.Add(value);
    }
    return true;
}

void THttpCli::Relocate(const std::string& Location)
{
    relocating_ = true;
    const bool pathOnly = !Location.empty() && Location[0] == '/';
    if (!Proxy.empty()) {
        // Through a proxy the request path is absolute: a bare path stays on
        // the same origin server.
        if (!pathOnly) {
            path_ = Location;
            return;
        }
        const std::string origin = OriginOf(path_);
        path_ = (origin.empty() ? "http://" + targetHost_ : origin) + Location;
        return;
    }
    if (pathOnly) {
        path_ = Location;
        return;
    }
    const TUrlParts url = SplitURL(Location);
    path_ = url.Path.empty() ? "/" : url.Path;
    hostName_ = url.Host;
    targetHost_ = url.Host;
    if (!url.Port.empty())
        port_ = url.Port;
}

void THttpCli::HeaderEnd()
{
    if (ending_) {
        // The header of a response that ended the request (status 400 or
        // more): what follows is its body, not for the caller.
        DropReceived();
        return;
    }
    if (relocating_) {
        // Whatever came behind this header belongs to no response.
        DropReceived();
        closeRelocates_ = true;
        socket_.Close();
        return;
    }
    const auto dot = docName_.rfind('.');
    if (dot != std::string::npos && Lower(docName_.substr(dot)) == ".exe" && contentType_ == "text/html")
        ReplaceExt(docName_, "htm");
    lineConsumer_ = &THttpCli::DocChunk;
    if (!SetState(hsReceiving))
        return;
    const auto alive = socket_.Alive();
    DoHeaderEnd();
    if (!alive || state_ != hsReceiving || rcvdHeld_ == 0)
        return;
    lastLine_.assign(rcvdBuffer_, static_cast<std::size_t>(rcvdHeld_));
    DropReceived();
    DocChunk();
}

void THttpCli::DocChunk()
{
    const auto alive = socket_.Alive();
    const auto goOn = [&] { return alive && state_ == hsReceiving; };
    if (docChunks_++ == 0) {
        DoDocBegin();
        if (!goOn())
            return;
    }
    const auto length = static_cast<std::int32_t>(lastLine_.size());
    rcvdCount_ += length;
    DoDocData(lastLine_.data(), length);
    if (!goOn() || !RcvdStream)
        return;
    // No later chunk may be written behind a gap: a failed write ends the request.
    bool written = false;
    try {
        written = RcvdStream->Write(lastLine_.data(), length) == length;
    } catch (const std::exception&) {
    }
    if (!written) {
        const auto* file = dynamic_cast<const TFileStream*>(RcvdStream);
        Fail(file ? "could not write the local file: " + file->FileName() : "could not write the local file");
    }
}

// A local failure found in the response: 404 and Reason, and the request ends.
void THttpCli::Fail(std::string Reason)
{
    statusCode_ = 404;
    reasonPhrase_ = std::move(Reason);
    DropReceived();
    EndConnection();
}

// The closed handler: the end of every request, also after local failures.
void THttpCli::SocketSessionClosed(std::uint16_t)
{
    if (ending_ || state_ == hsReady)
        return;
    ending_ = true;
    relocating_ = false;
    if (docChunks_ > 0) {
        const auto alive = socket_.Alive();
        DoDocEnd();
        if (!alive)
            return;
    }
    PostToSelf(WM_HTTPCLI_READY);
}

void THttpCli::RelocationClosed()
{
    relocating_ = false;
    closeRelocates_ = false;
    PostToSelf(WM_HTTPCLI_RELOCATE);
}

} // namespace qm
