#include "http/HttpProtText.h"

#include "TestSeed.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qm {

// Found by argument-dependent lookup when a comparison fails.
void PrintTo(const TUrlParts& p, std::ostream* os)
{
    *os << "{Proto=" << p.Proto << " User=" << p.User << " Pass=" << p.Pass << " Host=" << p.Host
        << " Port=" << p.Port << " Path=" << p.Path << "}";
}

} // namespace qm

namespace {

using qm::SplitURL;
using qm::TUrlParts;

struct UrlCase {
    const char* url;
    TUrlParts parts;
};

TEST(SplitURL, Parts)
{
    const UrlCase cases[] = {
        {"http://h.test:8080/a/b.zip?x=1", {"http", "", "", "h.test", "8080", "/a/b.zip?x=1"}},
        {"h.test:8080/a/b.zip?x=1", {"", "", "", "h.test", "8080", "/a/b.zip?x=1"}},
        {"h.test", {"", "", "", "h.test", "", ""}},
        {"h.test/", {"", "", "", "h.test", "", "/"}},
        {"ftp://me:se:cr@et@h.test:21/f", {"ftp", "me", "se:cr@et", "h.test", "21", "/f"}},
        {"http://me@h.test/x", {"http", "me", "", "h.test", "", "/x"}},
        {"http://me:pw@h.test", {"http", "me", "pw", "h.test", "", ""}},
        {"MAILTO:someone@h.test", {"mailto", "someone", "", "h.test", "", ""}},
        {"http://h.test:/p?q=a:b@c", {"http", "", "", "h.test", "", "/p?q=a:b@c"}},
        {"x-any://%41h:80", {"x-any", "", "", "%41h", "80", ""}},
        {"/ok?from=http://x", {"", "", "", "", "", "/ok?from=http://x"}},
        {"h.test/p?u=http://x", {"", "", "", "h.test", "", "/p?u=http://x"}},
        {"https://h.test/p#http://x", {"https", "", "", "h.test", "", "/p#http://x"}},
        {"", {}},
        {"://", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitURL(c.url), c.parts) << c.url;
}

TEST(SplitURL, SchemeSeparatorWinsOverMailto)
{
    EXPECT_EQ(SplitURL("mailto://h.test/p"), (TUrlParts{"mailto", "", "", "h.test", "", "/p"}));
    // Only a "mailto:" at the very start counts.
    EXPECT_EQ(SplitURL("xmailto:u@h"), (TUrlParts{"", "xmailto", "u", "h", "", ""}));
}

TEST(EncodeBase64, PaddingFollowsTheLength)
{
    EXPECT_EQ(qm::EncodeBase64(""), "");
    EXPECT_EQ(qm::EncodeBase64("f"), "Zg==");
    EXPECT_EQ(qm::EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(qm::EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(qm::EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(qm::EncodeBase64("user:pass"), "dXNlcjpwYXNz");
    EXPECT_EQ(qm::EncodeBase64(std::string("\xFF\xFE\0", 3)), "//4A");
}

// Base64 the slow way: the bits as a string of digits, six at a time.
std::string ReferenceBase64(const std::string& s)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bits;
    for (char c : s)
        for (int b = 7; b >= 0; --b)
            bits += (static_cast<unsigned char>(c) >> b & 1) ? '1' : '0';
    while (bits.size() % 6)
        bits += '0';
    std::string out;
    for (std::size_t i = 0; i < bits.size(); i += 6)
        out += alphabet[std::stoi(bits.substr(i, 6), nullptr, 2)];
    while (out.size() % 4)
        out += '=';
    return out;
}

TEST(EncodeBase64, AgreesWithABitByBitEncoding)
{
    const auto seed = qm::test::TestSeed();
    SCOPED_TRACE("QM_TEST_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int i = 0; i < 2000; ++i) {
        const std::string data = qm::test::RandomBytes(rng, 40);
        ASSERT_EQ(qm::EncodeBase64(data), ReferenceBase64(data)) << "length " << data.size();
    }
}

TEST(FormatHttpDate, DropsMillisecondsAndNamesTheDay)
{
    EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(1998, 1, 2, 3, 4, 5, 900)), "Fri, 02 Jan 1998 03:04:05");
    EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(2001, 3, 9)), "Fri, 09 Mar 2001 00:00:00");
    EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(2000, 12, 31, 23, 59, 59, 999)), "Sun, 31 Dec 2000 23:59:59");
    EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(1900, 1, 1)), "Mon, 01 Jan 1900 00:00:00");
}

TEST(FormatHttpDate, EveryDayOfAWeekAndEveryMonth)
{
    const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    for (int d = 0; d < 7; ++d) // 5 February 2024 was a Monday
        EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(2024, 2, 5 + d)).substr(0, 3), days[d]);
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(qm::FormatHttpDate(qm::EncodeDateTime(2024, m, 1)).substr(8, 3), months[m - 1]);
}

TEST(FormatHttpDate, DaysBeforeTheFirstMondayStillGetTheirNames)
{
    EXPECT_EQ(qm::FormatHttpDate(0.0), "Sat, 30 Dec 1899 00:00:00");
    EXPECT_EQ(qm::FormatHttpDate(1.5), "Sun, 31 Dec 1899 12:00:00");
}

TEST(ReplaceExt, LastDotOrAppended)
{
    const std::pair<std::string, std::string> cases[] = {
        {"setup.exe", "setup.htm"}, {"readme", "readme.htm"}, {"a.b.c", "a.b.htm"},
        {"dir.", "dir.htm"},        {"", ".htm"},
    };
    for (auto [name, expected] : cases) {
        qm::ReplaceExt(name, "htm");
        EXPECT_EQ(name, expected);
    }
}

TEST(LastPos, PositionOfTheLastOne)
{
    EXPECT_EQ(qm::LastPos('/', "/a/b/c"), 5u);
    EXPECT_EQ(qm::LastPos('/', "/"), 1u);
    EXPECT_EQ(qm::LastPos('/', "abc"), 0u);
    EXPECT_EQ(qm::LastPos('/', ""), 0u);
}

} // namespace
