// What a log line may hold: cleaned bytes, network texts cut, URLs without credentials.
#include "app/RunLogText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(RunLogText, LinesCleanedTextsCutCredentialsDropped)
{
    const std::pair<std::string, std::string> clean[] = {
        {"a\r\nb", "a  b"}, {"\x1B[2K\x1B[1Afake", "\\x1B[2K\\x1B[1Afake"}, {std::string("n\0v\x0B", 4), "n\\x00v\\x0B"},
        {"del\x7F\x80\xFF\\x41", "del\\x7F\x80\xFF\\x41"}, {"\t\x1F ~", "\\x09\\x1F ~"}, {"", ""},
    };
    for (const auto& [text, cleaned] : clean)
        EXPECT_EQ(qm::CleanLogText(text), cleaned) << text;
    const std::string long_(qm::MaxNetTextInLog, 'r');
    EXPECT_EQ(qm::NetText(long_), long_);
    EXPECT_EQ(qm::NetText(long_ + "X"), long_ + "...");
    const std::pair<const char*, const char*> urls[] = {
        {"http://host:81/a/b.bin", "http://host:81/a/b.bin"}, {"http://u:p@host/x", "http://host/x"},
        {"http://alice:se/cr@et@host:8080/v/a.bin", "http://host:8080/v/a.bin"}, {"alice:p/w@proxy", "proxy"},
        {"https://u@h/a?x=@#@", "https://h/a?x=@#@"}, {"http://h/a@b.bin", "http://b.bin"}, {"@", ""},
    };
    for (const auto& [url, safe] : urls)
        EXPECT_EQ(qm::SafeURL(url), safe) << url;
}

} // namespace
