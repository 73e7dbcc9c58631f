// The response side of THttpCli: receiving, cutting header lines, the status
// line and the fields acted on, relocation, document chunks and the end of a
// request.
#include "http/HttpProt.h"

#include "base/Events.h"
#include "http/HttpProtText.h"
#include "net/WSocketErrors.h"

#include <exception>

namespace qm {

static_assert(TResponseBuffer::Capacity == THttpCli::BufferSize);

namespace {

std::string BrokenReason(int Error)
{
    return "connection broken: " + SocketErrorText(Error) + " (Error #" + std::to_string(Error) + ")";
}

} // namespace

void THttpCli::DropReceived()
{
    received_.Clear();
}

// Reads once per call: the socket calls again while bytes are waiting.
void THttpCli::SocketDataAvailable(std::uint16_t)
{
    const int count = socket_.Receive(received_.Space(), received_.Room());
    if (requestType_ == rqNone)
        return;
    if (count < 0 && socket_.LastError() != WSAEWOULDBLOCK)
        Broken(socket_.LastError());
    if (count <= 0)
        return;
    Arrived();
    received_.Received(count);
    if (state_ == hsReceiving) {
        received_.TakeAll(lastLine_);
        DocChunk();
        return;
    }
    CutHeaderLines();
}

void THttpCli::CutHeaderLines()
{
    const auto alive = socket_.Alive();
    for (std::int32_t held = received_.Held(); received_.NextLine(lastLine_); held = received_.Held()) {
        if (!CountHeaderBytes(held - received_.Held()))
            return;
        if (state_ == hsConnected || state_ == hsReceiving) {
            (this->*lineConsumer_)();
            if (!alive)
                return;
        }
    }
    // A full buffer without a line end leaves no room to read into.
    if (received_.Full() && state_ == hsConnected && !ending_)
        HeaderFault("response header line longer than " + std::to_string(BufferSize - 1) + " bytes");
}

bool THttpCli::CountHeaderBytes(std::int32_t Count)
{
    if (state_ != hsConnected || ending_)
        return true;
    headerBytes_ += Count;
    if (headerBytes_ <= MaxHeaderSize)
        return true;
    HeaderFault("response header longer than " + std::to_string(MaxHeaderSize) + " bytes");
    return false;
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
    if (!HandleHeaderLine(line))
        return; // the line was malformed: the request has ended
    Fire(OnHeaderData, *this);
}

bool THttpCli::HandleHeaderLine(const std::string& Line)
{
    const THeaderLine read = ReadHeaderLine(Line);
    if (!read.Error.empty()) {
        HeaderFault(read.Error);
        return false;
    }
    if (read.Kind == THeaderLine::Status) {
        statusCode_ = read.StatusCode;
        reasonPhrase_ = read.ReasonPhrase;
        bodyLength_ = -1;
    } else if (read.Kind == THeaderLine::Field) {
        if (read.Name == "location" && statusCode_ < 400)
            Relocate(read.Value);
        else if (read.Name == "content-length")
            contentLength_ = bodyLength_ = read.ContentLength;
        else if (read.Name == "content-type")
            contentType_ = read.Value;
        else if (read.Name == "www-authenticate")
            wwwAuthenticate_.Add(read.Value);
        else if (read.Name == "retry-after")
            retryAfter_ = read.Value;
    }
    return true;
}

void THttpCli::Relocate(const std::string& Location)
{
    relocating_ = true;
    if (RelocateSecure(Location))
        return;
    TRequestTarget target{path_, hostName_, targetHost_, port_};
    ApplyLocation(target, Location, !Proxy.empty());
    path_ = std::move(target.Path);
    hostName_ = std::move(target.HostName);
    targetHost_ = std::move(target.TargetHost);
    port_ = std::move(target.Port);
}

void THttpCli::HeaderEnd()
{
    if (ending_) {
        // The header of a response that ended the request (status 400 or
        // more): what follows is its body, not for the caller.
        DropReceived();
        return;
    }
    if (statusCode_ >= 400) {
        // The request has failed; its whole header (a late Retry-After too)
        // has been read, the body is not for the caller.
        DropReceived();
        EndConnection(); // the close ends the request
        return;
    }
    if (relocating_ && ++relocations_ > MaxRelocations) {
        relocating_ = false;
        Fail("Too many relocations: more than " + std::to_string(MaxRelocations));
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
    if (dot != std::string::npos && LowerCase(docName_.substr(dot)) == ".exe" && contentType_ == "text/html")
        ReplaceExt(docName_, "htm");
    lineConsumer_ = &THttpCli::DocChunk;
    if (!SetState(hsReceiving))
        return;
    const auto alive = socket_.Alive();
    DoHeaderEnd();
    if (!alive || state_ != hsReceiving || received_.Held() == 0)
        return;
    received_.TakeAll(lastLine_);
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
        Fail(file ? "could not write the local file: " + file->FileName() : "could not write the local file",
             TRequestFailure::Local);
    }
}

// A header past its bounds or out of form: the request fails for Reason,
// unless its status of 400 or more has decided already (that status stands).
void THttpCli::HeaderFault(std::string Reason)
{
    if (statusCode_ < 400 || failure_ != TRequestFailure::None)
        return Fail(std::move(Reason));
    DropReceived();
    EndConnection();
}

// A local failure found in the response: 404 and Reason, and the request ends.
void THttpCli::Fail(std::string Reason, TRequestFailure Kind)
{
    statusCode_ = 404;
    reasonPhrase_ = std::move(Reason);
    failure_ = Kind;
    DropReceived();
    EndConnection();
}

// A connection that ends with an error (a reset) leaves the response cut
// short, with or without a Content-Length: the request fails.
void THttpCli::Broken(int Error)
{
    if (ending_ || (state_ != hsConnected && state_ != hsReceiving))
        return;
    Fail(BrokenReason(Error), TRequestFailure::Reset);
}

// The closed handler: the end of every request, also after local failures.
void THttpCli::SocketSessionClosed(std::uint16_t Error)
{
    if (Error != 0 && !ending_ && (state_ == hsConnected || state_ == hsReceiving)) {
        statusCode_ = 404;
        reasonPhrase_ = BrokenReason(Error);
        failure_ = TRequestFailure::Reset;
    }
    if (ending_ || state_ == hsReady)
        return;
    KillTimer(window_.get(), StallTimerId);
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
