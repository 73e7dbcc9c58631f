// The portable part of THttpCli's response side: the receive buffer that
// cuts received bytes into header lines and document chunks, the reading of
// one header line (status line or field), and where a Location field leads.
// No socket, no window, no events: THttpCli owns one TResponseBuffer, reads
// the socket into it, and acts on what these routines give back. Keeping this
// free of Windows lets it be driven with arbitrary bytes (fuzz/).
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// Received bytes waiting to be cut. At most Capacity - 1 bytes are held, so a
// header line is at most that long; a 0 byte always follows the last byte
// held.
//
// Use: read at most Room() bytes into Space(), then Received(count); then
// either NextLine() until it gives false (header), or TakeAll() (document).
class TResponseBuffer {
public:
    static constexpr std::int32_t Capacity = 8192;

    char* Space() { return bytes_ + held_; }
    // 0 when the buffer is full (a header line longer than Capacity - 1).
    std::int32_t Room() const { return Capacity - 1 - held_; }
    std::int32_t Held() const { return held_; }
    bool Full() const { return Room() == 0; }
    // Count bytes were written to Space(); Count is clamped to 0..Room().
    void Received(std::int32_t Count);
    void Clear();
    // The first line held (the bytes before the first LF, without a CR right
    // before the LF) leaves the buffer with its LF; false when no LF is held.
    bool NextLine(std::string& Line);
    // Every byte held, byte-exact, as one chunk; the buffer is emptied.
    void TakeAll(std::string& Chunk);

private:
    char bytes_[Capacity] = {};
    std::int32_t held_ = 0;
};

// One non-empty response header line as read.
struct THeaderLine {
    enum TKind : std::uint8_t {
        Other,  // neither a status line nor a field: ignored
        Status, // "HTTP/1.0" or "HTTP/1.1" and a status code
        Field,  // "name:value"
    };
    TKind Kind = Other;
    int StatusCode = 0;        // Status
    std::string ReasonPhrase;  // Status: from character 14 on
    std::string Name;          // Field: before the first ":", lower-cased
    std::string Value;         // Field: after the ":" and the blanks behind it
    std::int64_t ContentLength = 0; // Field "content-length"
    // Not empty when the line is malformed (a status code or Content-Length
    // that is no decimal integer): the reason the request fails with.
    std::string Error;
};

THeaderLine ReadHeaderLine(const std::string& Line);

// Where the request goes after a Location field, and the field's effect on
// the connection settings. ViaProxy: the request path is an absolute URL.
struct TRequestTarget {
    std::string Path;       // the Request-URI
    std::string HostName;   // host to connect to
    std::string TargetHost; // the "Host: " line
    std::string Port;       // port to connect to
};

void ApplyLocation(TRequestTarget& Target, const std::string& Location, bool ViaProxy);

// S with the ASCII letters lower-cased (header names, extensions).
std::string LowerCase(std::string S);

} // namespace qm
