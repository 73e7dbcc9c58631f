#include "base/ExtraStr.h"

#include "TestSeed.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using qm::DescrambleText;
using qm::GetField;
using qm::HexToInt;
using qm::ReplaceField;
using qm::ScrambleText;

TEST(HexToInt, DigitsOfEitherCase)
{
    EXPECT_EQ(HexToInt("ff"), 255);
    EXPECT_EQ(HexToInt("aB"), 171);
    EXPECT_EQ(HexToInt("FFFFFFF"), 268435455);
    EXPECT_EQ(HexToInt(""), 0);
}

TEST(HexToInt, NonDigitCountsAsMinusOne)
{
    EXPECT_EQ(HexToInt("1g"), 15);
    EXPECT_EQ(HexToInt("g"), -1);
    EXPECT_EQ(HexToInt("zz"), -17);
}

TEST(HexToInt, EightCharactersOverflowWhateverTheyAre)
{
    EXPECT_THROW(HexToInt("00000000"), qm::EIntOverflow);
    EXPECT_THROW(HexToInt("7fffffff"), qm::EIntOverflow);
    EXPECT_THROW(HexToInt("123456789"), qm::EIntOverflow);
}

TEST(ReverseText, KeepsEveryByte)
{
    EXPECT_EQ(qm::ReverseText("ab\0c"s), "c\0ba"s);
    EXPECT_EQ(qm::ReverseText(""), "");
}

TEST(DescrambleText, KnownValues)
{
    EXPECT_EQ(DescrambleText("%9DZ%9E%9F"), "abc");
    EXPECT_EQ(DescrambleText(""), "");
    // The byte after an odd byte is hidden, whatever it is: here an escaped "%".
    EXPECT_EQ(DescrambleText("%9D%25%9E%9F"), "abc");
    EXPECT_EQ(DescrambleText("%9Db%9E%9F"), "abc");
}

TEST(DescrambleText, EscapeCutShortAtTheEndStaysInside)
{
    // A "%" near the end takes the digits that are left.
    EXPECT_EQ(DescrambleText("%"), "\0"s);
    EXPECT_EQ(DescrambleText("%4"), "\xFC");
}

TEST(ScrambleText, RoundTripsEveryByteValue)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(DescrambleText(ScrambleText(all)), all);
    EXPECT_EQ(DescrambleText(ScrambleText("http://example.test/veldra/")), "http://example.test/veldra/");
    EXPECT_EQ(ScrambleText(""), "");
}

TEST(ScrambleText, RoundTripsRandomBytesAsPrintableText)
{
    const auto seed = qm::test::TestSeed();
    SCOPED_TRACE("QM_TEST_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int i = 0; i < 2000; ++i) {
        const std::string plain = qm::test::RandomBytes(rng, 80);
        const std::string stored = ScrambleText(plain);
        ASSERT_EQ(DescrambleText(stored), plain);
        for (char c : stored)
            ASSERT_TRUE(c > ' ' && c < '\x7F') << "not printable: " << int(static_cast<unsigned char>(c));
    }
}

TEST(TextEquals, FoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(qm::TextEquals("setup.ini", "SETUP.INI"));
    EXPECT_TRUE(qm::TextEquals("", ""));
    EXPECT_FALSE(qm::TextEquals("setup.ini", "SETUP.IN"));
    EXPECT_FALSE(qm::TextEquals("@[", "`{")); // neighbours of the letter ranges
    EXPECT_FALSE(qm::TextEquals("\xE4", "\xC4"));
}

TEST(ReplaceFirst, OnlyTheFirstOccurrence)
{
    std::string dir = "C:\\\\veldratp";
    EXPECT_TRUE(qm::ReplaceFirst(dir, "\\\\", "\\"));
    EXPECT_EQ(dir, "C:\\veldratp");

    std::string path = "{sys}\\x\\{sys}";
    EXPECT_TRUE(qm::ReplaceFirst(path, "{sys}", "C:\\WINDOWS\\system"));
    EXPECT_EQ(path, "C:\\WINDOWS\\system\\x\\{sys}");
}

TEST(ReplaceFirst, NothingToFind)
{
    std::string s = "abc";
    EXPECT_FALSE(qm::ReplaceFirst(s, "x", "y"));
    EXPECT_FALSE(qm::ReplaceFirst(s, "", "y"));
    EXPECT_FALSE(qm::ReplaceFirst(s, "ABC", "y")); // letter case counts
    EXPECT_EQ(s, "abc");
}

TEST(PosFrom, SearchesFromTheGivenPosition)
{
    EXPECT_EQ(qm::PosFrom("b", "abab", 1), 2u);
    EXPECT_EQ(qm::PosFrom("b", "abab", 2), 2u);
    EXPECT_EQ(qm::PosFrom("b", "abab", 3), 4u);
    EXPECT_EQ(qm::PosFrom("b", "abab", 5), 0u);
    EXPECT_EQ(qm::PosFrom("b", "abab", 99), 0u);
    EXPECT_EQ(qm::PosFrom("a", "abab", 0), 1u);
    EXPECT_EQ(qm::PosFrom("", "abab", 1), 0u);
    EXPECT_EQ(qm::PosFrom("abc", "ab", 1), 0u);
}

TEST(GetField, TabSeparatedFields)
{
    EXPECT_EQ(GetField("a\tb\tc", "\t", 0), "a");
    EXPECT_EQ(GetField("a\tb\tc", "\t", 1), "b");
    EXPECT_EQ(GetField("a\tb\tc", "\t", 2), "c");
    EXPECT_EQ(GetField("a\tb\tc", "\t", 3), "");
    EXPECT_EQ(GetField("a\t\tc", "\t", 1), "");
    EXPECT_EQ(GetField("a\tb\t", "\t", 2), "");
    EXPECT_EQ(GetField("ab::cd::ef", "::", 1), "cd");
}

TEST(GetField, NoSeparatorMeansNoFieldAtAll)
{
    EXPECT_EQ(GetField("abc", "\t", 0), "");
    EXPECT_EQ(GetField("abc", "\t", 1), "");
    EXPECT_EQ(GetField("abc", "", 0), "");
}

TEST(ReplaceField, EachExistingField)
{
    const std::vector<std::string> expected = {"X\tb\tc", "a\tX\tc", "a\tb\tX"};
    for (std::size_t n = 0; n < expected.size(); ++n) {
        std::string s = "a\tb\tc";
        EXPECT_TRUE(ReplaceField(s, "X", "\t", n));
        EXPECT_EQ(s, expected[n]);
    }
}

TEST(ReplaceField, MissingFieldLeavesTheText)
{
    std::string s = "a\tb\tc";
    EXPECT_FALSE(ReplaceField(s, "X", "\t", 3));
    EXPECT_EQ(s, "a\tb\tc");
    std::string plain = "abc";
    EXPECT_FALSE(ReplaceField(plain, "X", "\t", 0));
    EXPECT_EQ(plain, "abc");
}

TEST(ReplaceField, LastFieldBehindAnAppendedSeparator)
{
    // How the download run rewrites field 4 of a list line.
    std::string line = "Name\t10\t20\tfile.lzh\t{sys}\\f.dll";
    line += '\t';
    EXPECT_TRUE(ReplaceField(line, "C:\\W\\system\\f.dll", "\t", 4));
    EXPECT_EQ(qm::DropLast(line, 1), "Name\t10\t20\tfile.lzh\tC:\\W\\system\\f.dll");
}

// Fields by plain splitting, for separators that cannot overlap themselves.
std::vector<std::string> Split(const std::string& s, const std::string& sep)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t p; (p = s.find(sep, start)) != std::string::npos; start = p + sep.size())
        parts.push_back(s.substr(start, p - start));
    parts.push_back(s.substr(start));
    return parts;
}

std::string Join(const std::vector<std::string>& parts, const std::string& sep)
{
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i)
        s += (i ? sep : "") + parts[i];
    return s;
}

TEST(Fields, AgreeWithPlainSplittingOnRandomLines)
{
    const auto seed = qm::test::TestSeed();
    SCOPED_TRACE("QM_TEST_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> length(0, 12), pick(0, 2);
    for (const std::string sep : {"\t", "ab"}) {
        for (int i = 0; i < 3000; ++i) {
            std::string s(length(rng), ' ');
            for (char& c : s)
                c = "ab\t"[pick(rng)];
            auto parts = Split(s, sep);
            for (std::size_t n = 0; n <= parts.size(); ++n) {
                const bool exists = parts.size() > 1 && n < parts.size();
                ASSERT_EQ(GetField(s, sep, n), exists ? parts[n] : "") << s << " field " << n;
                std::string replaced = s;
                ASSERT_EQ(ReplaceField(replaced, "X", sep, n), exists) << s << " field " << n;
                auto expected = parts;
                if (exists)
                    expected[n] = "X";
                ASSERT_EQ(replaced, exists ? Join(expected, sep) : s) << s << " field " << n;
            }
        }
    }
}

TEST(DropLast, CutsOrEmpties)
{
    EXPECT_EQ(qm::DropLast("abc", 1), "ab");
    EXPECT_EQ(qm::DropLast("ab", 2), "");
    EXPECT_EQ(qm::DropLast("ab", 3), "");
    EXPECT_EQ(qm::DropLast("ab", 0), "ab");
}

} // namespace
