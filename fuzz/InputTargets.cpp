#include "InputTargets.h"

#include "app/RunLogText.h"
#include "base/ExtraStr.h"
#include "release/ListRules.h"
#include "release/ListHash.h"
#include "release/ReleaseFiles.h"
#include "base/Exception.h"
#include "base/StringList.h"
#include "http/HttpProtReception.h"
#include "http/HttpProtText.h"
#include "http/HttpRetry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qmfuzz {
namespace {

[[noreturn]] void Fault(const std::string& What)
{
    std::fprintf(stderr, "input fuzz target: %s\n", What.c_str());
    std::abort();
}

void Expect(bool Holds, const char* What)
{
    if (!Holds)
        Fault(What);
}

std::string_view AsText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}


// Field 6: absent exactly when empty; a digest exactly when 64 hex digits,
// which it gives back (in lower case) unchanged.
void CheckListHash(const std::string& Line)
{
    const qm::TListHash hash = qm::ReadListHash(Line);
    std::string field = qm::GetField(Line, qm::ListSeparator, qm::ListHashField);
    Expect((hash.Kind == qm::TListHash::TKind::Absent) == field.empty(), "an empty hash field not taken as absent");
    const bool hex = field.size() == 64 && field.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    Expect((hash.Kind == qm::TListHash::TKind::Digest) == hex, "a hash field taken wrongly");
    std::transform(field.begin(), field.end(), field.begin(), [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    if (hex)
        Expect(qm::HexText(hash.Digest) == field, "a hash does not give back its digits");
}

// The whole input read as each release file: refused with EReleaseFileError
// or read to a value that writes back to text reading the same.
template <class TValue>
void CheckReleaseFile(std::string_view Text, TValue (*Read)(std::string_view), std::string (*Format)(const TValue&))
{
    try {
        const TValue value = Read(Text);
        Expect(Read(Format(value)) == value, "a release file does not read back");
    } catch (const qm::EReleaseFileError&) {
    }
}

void CheckListLine(const std::string& Line)
{
    Expect(Line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos, "a line holds CR, LF or 0");
    const qm::TListLine line = qm::ParseListLine(Line);
    const std::string fields[] = {line.DisplayName, line.DownloadSize.Text, line.InstalledSize.Text, line.RemoteName,
                                  line.TargetPath};
    for (std::size_t n = 0; n < std::size(fields); ++n)
        Expect(fields[n] == qm::GetField(Line, qm::ListSeparator, n), "a field read unlike GetField");
    const std::string formatted = qm::FormatListLine(line);
    Expect(qm::FormatListLine(qm::ParseListLine(formatted)) == formatted, "a formatted line does not read back");
    if (line.InstalledSize.Value)
        Expect(qm::DecimalValue(std::to_string(*line.InstalledSize.Value)) == line.InstalledSize.Value,
               "size round trip");
    if (qm::IsPlainFileName(line.RemoteName)) {
        Expect(line.RemoteName.find_first_of("\\/:") == std::string::npos && line.RemoteName != "." &&
                   line.RemoteName != "..",
               "a plain file name leaves its directory");
        Expect(!qm::IsDeviceName(line.RemoteName), "a device name taken as plain");
    }
    const std::string_view file = std::string_view(line.TargetPath).substr(line.TargetPath.find_last_of("\\/") + 1);
    for (const std::string_view name : {std::string_view(line.RemoteName), file}) // none Windows would twist
        Expect(qm::CheckListLine(line, line.TargetPath, 1) || (!name.empty() && !name.ends_with('.') && !name.ends_with(' ') &&
                                                             !qm::IsDeviceName(name) && !qm::IsTemporaryName(name)),
               "a line naming a temporary, a device or a name Windows trims accepted");
    (void)qm::JudgeTarget(line.RemoteName, static_cast<std::int64_t>(Line.size()), line.InstalledSize.Value.value_or(0));
    CheckListHash(Line);
}

// ---- the response model ----

enum class TEnd { Open, HeaderEnded, Refused, Malformed, LineTooLong };

struct TReading {
    std::vector<std::string> Lines; // header lines handed on, the empty one included
    std::string Document;
    TEnd End = TEnd::Open;

    bool operator==(const TReading&) const = default;
};

// What the client does with one header line; false when the request ends.
bool HeaderLine(const std::string& Line, TReading& Reading, qm::TRequestTarget& Target)
{
    Reading.Lines.push_back(Line);
    if (Line.empty()) {
        Reading.End = TEnd::HeaderEnded;
        return false;
    }
    const qm::THeaderLine read = qm::ReadHeaderLine(Line);
    if (!read.Error.empty()) {
        Reading.End = TEnd::Malformed;
        return false;
    }
    if (read.Kind == qm::THeaderLine::Status) {
        Expect(read.StatusCode >= 0 && read.StatusCode <= 999, "status code of more than 3 digits");
        if (read.StatusCode >= 400) {
            Reading.End = TEnd::Refused;
            return false;
        }
    } else if (read.Kind == qm::THeaderLine::Field) {
        Expect(read.Name.find(':') == std::string::npos && qm::LowerCase(read.Name) == read.Name, "field name");
        Expect(read.Value.empty() || (read.Value[0] != ' ' && read.Value[0] != '\t'), "field value starts blank");
        if (read.Name == "content-length")
            Expect(read.ContentLength >= 0, "negative Content-Length");
        if (read.Name == "location") {
            qm::ApplyLocation(Target, read.Value, Line.size() % 2 == 0);
            Expect(!Target.Path.empty(), "empty request path after a relocation");
        }
    }
    return true;
}

// The whole response read at once, by its lines.
TReading ReadWhole(std::string_view Response)
{
    constexpr std::size_t maxHeld = qm::TResponseBuffer::Capacity - 1;
    TReading reading;
    qm::TRequestTarget target{"/", "h", "h", "80"};
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = Response.find('\n', start);
        const std::size_t raw = (lf == std::string_view::npos ? Response.size() : lf) - start;
        if (raw >= maxHeld) {
            reading.End = TEnd::LineTooLong;
            return reading;
        }
        if (lf == std::string_view::npos)
            return reading; // the connection closed within the header
        std::string line(Response.substr(start, raw));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        start = lf + 1;
        if (!HeaderLine(line, reading, target))
            break;
    }
    if (reading.End == TEnd::HeaderEnded)
        reading.Document = Response.substr(start);
    return reading;
}

// The response as the client receives it: reads of at most the room left in
// its buffer, each of the next piece size.
TReading ReadInPieces(std::string_view Response, const std::vector<std::size_t>& Sizes)
{
    qm::TResponseBuffer buffer;
    TReading reading;
    qm::TRequestTarget target{"/", "h", "h", "80"};
    std::string chunk;
    const auto takeChunk = [&] {
        buffer.TakeAll(chunk);
        Expect(chunk.size() < static_cast<std::size_t>(qm::TResponseBuffer::Capacity), "chunk too long");
        reading.Document += chunk;
    };
    for (std::size_t pos = 0, piece = 0; pos < Response.size(); ++piece) {
        const std::size_t want =
            std::min({Sizes[piece % Sizes.size()], static_cast<std::size_t>(buffer.Room()), Response.size() - pos});
        std::memcpy(buffer.Space(), Response.data() + pos, want);
        buffer.Received(static_cast<std::int32_t>(want));
        pos += want;
        Expect(buffer.Space()[0] == 0, "no 0 byte behind the bytes held");
        if (reading.End == TEnd::HeaderEnded) {
            takeChunk();
            continue;
        }
        std::string line;
        bool goOn = true;
        while (goOn && buffer.NextLine(line))
            goOn = HeaderLine(line, reading, target);
        if (reading.End == TEnd::HeaderEnded) {
            takeChunk();
            continue;
        }
        if (!goOn)
            break;
        if (buffer.Full()) {
            reading.End = TEnd::LineTooLong;
            break;
        }
    }
    return reading;
}

} // namespace

void FuzzFileList(const std::uint8_t* data, std::size_t size)
{
    qm::TStringList list;
    list.LoadFromText(AsText(data, size));
    for (int i = 0; i < list.Count(); ++i)
        CheckListLine(list[i]);
    CheckReleaseFile(AsText(data, size), qm::ReadListSignature, qm::FormatListSignature);
    CheckReleaseFile(AsText(data, size), qm::ReadPublicKey, qm::FormatPublicKey);
}

void FuzzSplitURL(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url = AsText(data, size);
    const qm::TUrlParts parts = qm::SplitURL(url);
    Expect(parts.Path.empty() || parts.Path[0] == '/', "path not starting with /");
    Expect(url.ends_with(parts.Path), "path is not the end of the URL");
    Expect(parts.Host.find_first_of("/@") == std::string::npos, "host holds / or @");
    Expect(parts.Port.find_first_of(":/@") == std::string::npos, "port holds : / or @");
    Expect(url.find(parts.Host) != std::string_view::npos, "host is not in the URL");
    if (!parts.Proto.empty() && parts.Proto != "mailto")
        Expect(url.starts_with(parts.Proto + "://"), "scheme is not the start of the URL");
    const std::size_t pieces = parts.Proto.size() + parts.User.size() + parts.Pass.size() + parts.Host.size() +
                               parts.Port.size() + parts.Path.size();
    Expect(pieces <= url.size(), "parts longer than the URL");
}

void FuzzDescramble(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = AsText(data, size);
    try {
        (void)qm::DescrambleText(text);
    } catch (const qm::Exception&) {
        // a malformed escape may be refused; it must not be anything worse
    }
    Expect(qm::DescrambleText(qm::ScrambleText(text)) == text, "scrambling does not come back");
}

void FuzzResponse(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    const std::size_t k = std::min<std::size_t>(data[0] % 16u, size - 1);
    std::vector<std::size_t> sizes;
    for (std::size_t i = 1; i <= k; ++i)
        sizes.push_back(std::size_t{data[i]} * data[i] / 4 + 1); // 1 to 16257 bytes
    if (sizes.empty())
        sizes.push_back(size);
    const std::string_view response = AsText(data + 1 + k, size - 1 - k);
    const TReading whole = ReadWhole(response);
    if (!(ReadInPieces(response, sizes) == whole))
        Fault("the reading depends on how the response was split");
    if (response.size() <= 4096 && !(ReadInPieces(response, {1}) == whole))
        Fault("the reading byte by byte differs");
}

void FuzzRetryAfter(const std::uint8_t* data, std::size_t size)
{
    const std::string_view value = AsText(data, size);
    const std::chrono::seconds max(size > 0 ? data[0] : 60);
    const std::optional<std::chrono::seconds> delay = qm::ParseRetryAfter(value, 784111777 + 86400 * static_cast<std::int64_t>(size % 20000), max);
    Expect(!delay || (*delay >= std::chrono::seconds(0) && *delay <= max), "a delay outside 0 and the maximum");
    if (!value.empty() && value.size() < 10 && value.find_first_not_of("0123456789") == value.npos)
        Expect(delay == std::min(std::chrono::seconds(std::stoll(std::string(value))), max), "delta-seconds misread");
}

void FuzzLogLine(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = AsText(data, size);
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    const std::string clean = qm::CleanLogText(text);
    Expect(std::none_of(clean.begin(), clean.end(), control) &&
               clean.size() == size + 3 * static_cast<std::size_t>(std::count_if(text.begin(), text.end(), control) - std::count(text.begin(), text.end(), '\r') - std::count(text.begin(), text.end(), '\n')),
           "a log line cleaned wrong");
    const std::string safe = qm::SafeURL(text);
    const std::size_t from = safe.find("://") == std::string::npos ? 0 : safe.find("://") + 3;
    Expect(safe.substr(0, safe.find_first_of("?#", from)).find('@', from) == std::string::npos && text.ends_with(safe.substr(from)),
           "a URL keeps what may be a user name or password");
}

} // namespace qmfuzz
