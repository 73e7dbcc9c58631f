// The receive buffer, the reading of response header lines and relocation
// targets of THttpCli.
#include "http/HttpProtReception.h"

#include "http/HttpProtText.h"

#include <algorithm>
#include <cstring>

namespace qm {
namespace {

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

void ReadStatusLine(const std::string& Line, THeaderLine& Result)
{
    Result.Kind = THeaderLine::Status;
    const std::string code = Line.size() > 9 ? Line.substr(9, 3) : std::string();
    std::int64_t value = 0;
    if (!ParseDecimal(code, value)) {
        Result.Error = "bad status code in the response: '" + code + "'";
        return;
    }
    Result.StatusCode = static_cast<int>(value);
    Result.ReasonPhrase = Line.size() > 13 ? Line.substr(13) : std::string();
}

void ReadField(const std::string& Line, THeaderLine& Result)
{
    Result.Kind = THeaderLine::Field;
    const auto colon = Line.find(':');
    Result.Name = LowerCase(Line.substr(0, colon));
    const auto start = Line.find_first_not_of(" \t", colon + 1);
    Result.Value = start == std::string::npos ? std::string() : Line.substr(start);
    if (Result.Name == "content-length" && !ParseDecimal(Result.Value, Result.ContentLength))
        Result.Error = "bad Content-Length in the response: '" + Result.Value + "'";
}

} // namespace

std::string LowerCase(std::string S)
{
    std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return S;
}

void TResponseBuffer::Received(std::int32_t Count)
{
    held_ += std::clamp(Count, 0, Room());
    bytes_[held_] = 0;
}

void TResponseBuffer::Clear()
{
    held_ = 0;
    bytes_[0] = 0;
}

bool TResponseBuffer::NextLine(std::string& Line)
{
    const auto* lf = static_cast<const char*>(std::memchr(bytes_, '\n', static_cast<std::size_t>(held_)));
    if (!lf)
        return false;
    const auto taken = static_cast<std::int32_t>(lf - bytes_) + 1;
    std::int32_t length = taken - 1;
    if (length > 0 && bytes_[length - 1] == '\r')
        --length;
    Line.assign(bytes_, static_cast<std::size_t>(length));
    held_ -= taken;
    std::memmove(bytes_, bytes_ + taken, static_cast<std::size_t>(held_));
    bytes_[held_] = 0;
    return true;
}

void TResponseBuffer::TakeAll(std::string& Chunk)
{
    Chunk.assign(bytes_, static_cast<std::size_t>(held_));
    Clear();
}

THeaderLine ReadHeaderLine(const std::string& Line)
{
    THeaderLine result;
    if (StartsWith(Line, "HTTP/1.0") || StartsWith(Line, "HTTP/1.1"))
        ReadStatusLine(Line, result);
    else if (Line.find(':') != std::string::npos)
        ReadField(Line, result);
    return result;
}

void ApplyLocation(TRequestTarget& Target, const std::string& Location, bool ViaProxy)
{
    const bool pathOnly = !Location.empty() && Location[0] == '/';
    if (ViaProxy) {
        // Through a proxy the request path is absolute: a bare path stays on
        // the same origin server.
        if (!pathOnly && !Location.empty()) {
            Target.Path = Location;
            return;
        }
        // An empty value would leave no request path: the origin's root.
        const std::string origin = OriginOf(Target.Path);
        Target.Path = (origin.empty() ? "http://" + Target.TargetHost : origin) + (pathOnly ? Location : "/");
        return;
    }
    if (pathOnly) {
        Target.Path = Location;
        return;
    }
    const TUrlParts url = SplitURL(Location);
    Target.Path = url.Path.empty() ? "/" : url.Path;
    Target.HostName = url.Host;
    Target.TargetHost = url.Host;
    if (!url.Port.empty())
        Target.Port = url.Port;
}

} // namespace qm
