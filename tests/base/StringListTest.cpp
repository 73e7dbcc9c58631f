#include "base/Exception.h"
#include "base/StringList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(std::string_view text)
{
    qm::TStringList list;
    list.LoadFromText(text);
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list[i]);
    return out;
}

using V = std::vector<std::string>;

TEST(StringListLoad, EveryLineBreakKindEndsALine)
{
    EXPECT_EQ(Lines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
}

TEST(StringListLoad, FinalBreakAddsNoEmptyLine)
{
    EXPECT_EQ(Lines("a\r\n"), (V{"a"}));
    EXPECT_EQ(Lines("a\n"), (V{"a"}));
    EXPECT_EQ(Lines("a\r"), (V{"a"}));
    EXPECT_EQ(Lines(""), V{});
}

TEST(StringListLoad, InnerEmptyLinesStay)
{
    EXPECT_EQ(Lines("a\r\n\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(Lines("\n\n"), (V{"", ""}));
    // LF CR is two breaks, CR LF is one.
    EXPECT_EQ(Lines("a\n\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(Lines("a\r\r\nb"), (V{"a", "", "b"}));
}

TEST(StringListLoad, ZeroByteEndsTheText)
{
    using namespace std::string_literals;
    EXPECT_EQ(Lines("a\tb\nc\0d\ne"s), (V{"a\tb", "c"}));
    EXPECT_EQ(Lines("\0abc"s), V{});
}

TEST(StringListLoad, MissingFileRaises)
{
    qm::TStringList list;
    EXPECT_THROW(list.LoadFromFile("no-such-dir/no-such-file.txt"), qm::Exception);
}

TEST(StringList, AddGetPut)
{
    qm::TStringList list;
    list.Add("x");
    list.Add("y");
    list.Put(1, "z");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0), "x");
    EXPECT_EQ(list.Get(1), "z");
    EXPECT_THROW(list.Get(2), std::out_of_range);
    list.LoadFromText("c"); // replaces what the list held
    EXPECT_EQ(list.Count(), 1);
}

} // namespace
