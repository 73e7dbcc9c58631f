#include "net/WSocketErrors.h"
#include "net/WSocketText.h"
#include "net/WSocketTypes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

using qm::SocketErrorText;

TEST(SocketErrorText, KnownCodesHaveTheirTexts)
{
    const std::pair<int, const char*> samples[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10035, "Operation would block"},
        {10047, "Address family not supported by protocol family"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10061, "Connection refused"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11004, "No Data"},
    };
    for (const auto& [code, text] : samples)
        EXPECT_EQ(SocketErrorText(code), text) << code;
}

TEST(SocketErrorText, TableHoldsExactlyTheWinSockCodesWithDistinctTexts)
{
    // 0, 10004, 10009, 10013, 10014, 10022, 10024, 10035-10071, 10091-10093
    // and 11001-11004: 51 codes, each with a text of its own.
    std::set<std::string> texts;
    int known = 0;
    for (int code = -2; code <= 12000; ++code) {
        const std::string text = SocketErrorText(code);
        if (text == "Not a WinSock error")
            continue;
        ++known;
        EXPECT_TRUE(texts.insert(text).second) << code << " repeats " << text;
        const bool inRange = code == 0 || code == 10004 || code == 10009 || code == 10013 ||
                             code == 10014 || code == 10022 || code == 10024 ||
                             (code >= 10035 && code <= 10071) || (code >= 10091 && code <= 10093) ||
                             (code >= 11001 && code <= 11004);
        EXPECT_TRUE(inRange) << code;
    }
    EXPECT_EQ(known, 51);
}

TEST(SocketErrorText, CodesOutsideTheTable)
{
    for (const int code : {10000, 10001, 10072, 10094, 11000, 11005, -1, -10061, 1, 2147483647})
        EXPECT_EQ(SocketErrorText(code), "Not a WinSock error") << code;
}

TEST(SocketErrorText, MessageNamesCodeAndFunction)
{
    EXPECT_EQ(qm::SocketErrorMessage(10061, "Connect"), "Error 10061 in function Connect\r\nConnection refused");
    EXPECT_EQ(qm::SocketErrorMessage(11004, "TWSocket.Wait"), "Error 11004 in function TWSocket.Wait\r\nNo Data");
}

TEST(SocketText, ParseLeadingNumber)
{
    using qm::ParseLeadingNumber;
    EXPECT_EQ(ParseLeadingNumber("80"), 80);
    EXPECT_EQ(ParseLeadingNumber("80x"), 80);
    EXPECT_EQ(ParseLeadingNumber("   443 "), 443);
    EXPECT_EQ(ParseLeadingNumber(""), 0);
    EXPECT_EQ(ParseLeadingNumber("http"), 0);
    EXPECT_EQ(ParseLeadingNumber("\t80"), 0); // only blanks are skipped
    EXPECT_EQ(ParseLeadingNumber("-5"), 0);
    EXPECT_EQ(ParseLeadingNumber("4294967297"), 1); // wraps, no overflow trap
}

TEST(SocketText, TrimText)
{
    EXPECT_EQ(qm::TrimText("  not found \t"), "not found");
    EXPECT_EQ(qm::TrimText(" \r\n "), "");
    EXPECT_EQ(qm::TrimText("tcp"), "tcp");
}

TEST(SocketText, StateNames)
{
    EXPECT_STREQ(qm::SocketStateName(qm::wsInvalidState), "wsInvalidState");
    EXPECT_STREQ(qm::SocketStateName(qm::wsConnected), "wsConnected");
    EXPECT_STREQ(qm::SocketStateName(qm::wsClosed), "wsClosed");
    EXPECT_EQ(static_cast<int>(qm::wsListening), 6);
    EXPECT_STREQ(qm::SocketStateName(static_cast<qm::TSocketState>(9)), "?");
}
