// The response side's portable part: header lines read, received bytes cut
// into lines and chunks, and where a Location field leads.
#include "http/HttpProtReception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

using qm::THeaderLine;
using qm::TRequestTarget;

TEST(HttpReception, HeaderLinesRead)
{
    struct Case {
        const char* Line;
        THeaderLine::TKind Kind;
        int Status;
        const char* Text; // the reason phrase, or the field's value
        bool Error;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK", THeaderLine::Status, 200, "OK", false},
        {"HTTP/1.1 404 Not Found", THeaderLine::Status, 404, "Not Found", false},
        {"HTTP/1.0 301 M", THeaderLine::Status, 301, "M", false},
        {"HTTP/1.0 2x0", THeaderLine::Status, 0, "", true},
        {"HTTP/1.0", THeaderLine::Status, 0, "", true},
        {"HTTP/1.1 7", THeaderLine::Status, 7, "", false},
        {"http/1.0 200 OK", THeaderLine::Other, 0, "", false},
        {"HTTP/1.2 200 OK", THeaderLine::Other, 0, "", false},
        {"Content-Length: 1989", THeaderLine::Field, 0, "1989", false},
        {"Content-Length: 123456789012345678", THeaderLine::Field, 0, "123456789012345678", false},
        {"Content-Length: 12x", THeaderLine::Field, 0, "12x", true},
        {"Content-Length: 1234567890123456789", THeaderLine::Field, 0, "1234567890123456789", true},
        {"Content-Length:", THeaderLine::Field, 0, "", true},
        {"Content-Length: /:", THeaderLine::Field, 0, "/:", true},
        {"LOCATION:\tx", THeaderLine::Field, 0, "x", false},
        {"X-Empty: \t", THeaderLine::Field, 0, "", false},
        {"A:b", THeaderLine::Field, 0, "b", false},
        {"no colon", THeaderLine::Other, 0, "", false},
    };
    for (const Case& c : cases) {
        const THeaderLine read = qm::ReadHeaderLine(c.Line);
        EXPECT_EQ(read.Kind, c.Kind) << c.Line;
        EXPECT_EQ(read.StatusCode, c.Status) << c.Line;
        EXPECT_EQ(c.Kind == THeaderLine::Status ? read.ReasonPhrase : read.Value, c.Text) << c.Line;
        EXPECT_EQ(!read.Error.empty(), c.Error) << c.Line << ": " << read.Error;
    }
    EXPECT_EQ(qm::ReadHeaderLine("Content-Length: 1989").ContentLength, 1989);
    EXPECT_EQ(qm::ReadHeaderLine("Content-Length: 123456789012345678").ContentLength, 123456789012345678);
    EXPECT_EQ(qm::ReadHeaderLine("LOCATION:\tx").Name, "location");
    EXPECT_EQ(qm::LowerCase("Content-TYPE@[`{"), "content-type@[`{");
}

void Receive(qm::TResponseBuffer& Buffer, const std::string& Bytes, std::int32_t Count)
{
    std::memcpy(Buffer.Space(), Bytes.data(), std::min<std::size_t>(Bytes.size(), std::size_t(Buffer.Room())));
    Buffer.Received(Count);
}

TEST(HttpReception, BytesCutIntoLinesThenOneChunk)
{
    qm::TResponseBuffer buffer;
    Receive(buffer, "HTTP/1.0 200 OK\r\nA: b\nC\r\r\n\n", 27);
    EXPECT_EQ(buffer.Space()[0], 0);
    Receive(buffer, "xyz", -1); // a failed read holds nothing more
    EXPECT_EQ(buffer.Held(), 27);
    EXPECT_EQ(buffer.Space()[0], 0);
    Receive(buffer, "\r\nbody", 6);
    std::string line;
    for (const char* expected : {"HTTP/1.0 200 OK", "A: b", "C\r", "", ""}) {
        ASSERT_TRUE(buffer.NextLine(line));
        EXPECT_EQ(line, expected);
        EXPECT_EQ(buffer.Space()[0], 0);
    }
    EXPECT_FALSE(buffer.NextLine(line));
    EXPECT_EQ(buffer.Held(), 4);
    std::string chunk;
    buffer.TakeAll(chunk);
    EXPECT_EQ(chunk, "body");
    EXPECT_EQ(buffer.Held(), 0);
    EXPECT_EQ(buffer.Space()[0], 0);

    // A line as long as the buffer holds fills it; more is not taken.
    const std::string full(qm::TResponseBuffer::Capacity, 'x');
    Receive(buffer, full, qm::TResponseBuffer::Capacity);
    EXPECT_TRUE(buffer.Full());
    EXPECT_EQ(buffer.Held(), qm::TResponseBuffer::Capacity - 1);
    EXPECT_EQ(buffer.Space()[0], 0);
    buffer.Clear();
    EXPECT_EQ(buffer.Room(), qm::TResponseBuffer::Capacity - 1);
}

TEST(HttpReception, LocationLeadsTheNextRequest)
{
    struct Case {
        TRequestTarget Before;
        const char* Location;
        bool ViaProxy;
        TRequestTarget After;
    };
    const TRequestTarget direct{"/a", "h", "h", "8080"};
    const TRequestTarget proxied{"http://h:81/a", "proxy", "h:81", "3128"};
    const Case cases[] = {
        {direct, "/x", false, {"/x", "h", "h", "8080"}},
        {direct, "http://h2:82/y", false, {"/y", "h2", "h2", "82"}},
        {direct, "http://h2/y", false, {"/y", "h2", "h2", "8080"}},
        {direct, "http://u:p@h2", false, {"/", "h2", "h2", "8080"}},
        {proxied, "http://h2:82/b", true, {"http://h2:82/b", "proxy", "h:81", "3128"}},
        {{"http://h2:82/b", "proxy", "h:81", "3128"}, "/x", true, {"http://h2:82/x", "proxy", "h:81", "3128"}},
        {proxied, "", true, {"http://h:81/", "proxy", "h:81", "3128"}},
        {{"/a", "proxy", "h:81", "3128"}, "/x", true, {"http://h:81/x", "proxy", "h:81", "3128"}},
    };
    const auto fields = [](const TRequestTarget& t) { return std::tie(t.Path, t.HostName, t.TargetHost, t.Port); };
    for (const Case& c : cases) {
        TRequestTarget target = c.Before;
        qm::ApplyLocation(target, c.Location, c.ViaProxy);
        EXPECT_EQ(fields(target), fields(c.After)) << c.Location;
    }
}

} // namespace
