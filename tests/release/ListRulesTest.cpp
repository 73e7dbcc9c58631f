// The list's numbers, one typed line read and written, its target resolved,
// and the rules that name and judge its files.
#include "release/ListRules.h"
#include "release/NameForms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using qm::TCompleteness;

TEST(ListLine, DecimalValuesWithinThirtyTwoBits)
{
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"123", 123},   {"+5", 5},          {"-7", -7},         {"+-5", std::nullopt}, {"12ab", std::nullopt},
        {"", std::nullopt}, {"+", std::nullopt}, {"2147483647", 2147483647}, {"2147483648", std::nullopt},
        {"-2147483648", -2147483647 - 1}, {" 1", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(qm::DecimalValue(text), value) << '"' << text << '"';
}

TEST(ListLine, EveryFieldReadAndWritten)
{
    const std::string hash(64, 'a'), hash7(64, 'B');
    const qm::TListLine line =
        qm::ParseListLine("Core\t9332\t-1\tcore.lz_\t{sys}\\{prog}\\x\tyes\t" + hash + "\t" + hash7 + "\teight");
    EXPECT_EQ(line.DisplayName, "Core");
    EXPECT_EQ(line.DownloadSize.Text, "9332");
    EXPECT_EQ(line.DownloadSize.Value, 9332);
    EXPECT_EQ(line.InstalledSize.Text, "-1");
    EXPECT_EQ(line.InstalledSize.Value, -1);
    EXPECT_EQ(line.RemoteName, "core.lz_");
    EXPECT_EQ(line.TargetPath, "{sys}\\{prog}\\x");
    EXPECT_TRUE(line.Compressed);
    EXPECT_EQ(line.Sha256.Kind, qm::TListHash::TKind::Digest);
    EXPECT_EQ(line.InstalledSha256.Digest[0], 0xBB);
    EXPECT_EQ(line.Extra, (std::vector<std::string>{"eight"}));
    EXPECT_EQ(qm::ResolveTargetPath(line.TargetPath, "C:\\W\\system", "D:\\veldratp"), "C:\\W\\system\\D:\\veldratp\\x");

    // Each line read and written again: the flag as "yes" or "no", the hash
    // field only when it or a later field is there.
    const std::pair<std::string, std::string> lines[] = {
        {"A\t1\t2\tr\tt\tyes\t\t" + hash7, "A\t1\t2\tr\tt\tyes\t\t" + hash7},
        {"A\t1\t2\tr\tt\tno\th\t", "A\t1\t2\tr\tt\tno\th"},
        {"A\t1\t2\tr\tt\tyes", "A\t1\t2\tr\tt\tyes"},
        {"A\t1\t2\tr\tt", "A\t1\t2\tr\tt\tno"},
        {"A\tabc\t2\tr\tt\tYes\t\tx", "A\tabc\t2\tr\tt\tno\t\tx"},
        {"A\t1\t2\tr\tt\tyes\tzz", "A\t1\t2\tr\tt\tyes\tzz"},
        {"no tab at all", "\t\t\t\t\tno"},
        {"x\ty", "x\ty\t\t\t\tno"},
    };
    for (const auto& [text, written] : lines)
        EXPECT_EQ(qm::FormatListLine(qm::ParseListLine(text)), written) << text;
}

TEST(ListLine, PlaceholdersFirstOccurrenceOnlyLetterCaseSignificant)
{
    const std::pair<const char*, const char*> cases[] = {
        {"{prog}\\setup.exe", "D\\setup.exe"},
        {"{sys}\\a{sys}", "S\\a{sys}"},
        {"{sys}{prog}{prog}", "SD{prog}"},
        {"{SYS}\\{Prog}", "{SYS}\\{Prog}"},
    };
    for (const auto& [target, resolved] : cases)
        EXPECT_EQ(qm::ResolveTargetPath(target, "S", "D"), resolved) << target;
}

TEST(ListLine, TextCutIntoLines)
{
    using Lines = std::vector<std::string>;
    const std::pair<std::string, Lines> cases[] = {
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\r\n", {"a"}},
        {"a\n\nb\r\r\nc", {"a", "", "b", "", "c"}},
        {std::string("a\nb\0c\nd", 7), {"a", "b"}},
        {"", {}},
        {"\r\n", {""}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(qm::SplitListText(text), lines) << text;
    EXPECT_EQ(qm::SplitFields("a\t\tb\t"), (Lines{"a", "", "b", ""}));
}

TEST(ListRules, CompletenessOfWhatIsFoundAtTheTarget)
{
    struct Case {
        std::optional<std::string> Found;
        std::int64_t Size;
        std::int32_t Installed;
        bool Complete, Counted;
    };
    const Case cases[] = {
        {std::nullopt, 0, -1, true, true},     {std::nullopt, 0, 0, false, false},
        {"a.bin", 10, 10, true, true},         {"a.bin", 10, 11, false, false},
        {"a.bin", 10, 9, false, false},        {"vcl30.dpl", 5000, 0, true, true},
        {"vcl30.dpl", 5000, 5000, false, false}, {"VCL30.DPL", 5000, 5000, true, true},
        {"VCL30.DPL", 5000, 0, false, false},  {"SETUP.INI", 9, 9, false, true},
        {"setup.pkg", 9, 9, false, true},      {"Setup.Ini", 9, 8, false, false},
        {"setup.in", 9, 9, true, true},
    };
    for (const Case& c : cases) {
        const TCompleteness judged = qm::JudgeTarget(c.Found, c.Size, c.Installed);
        EXPECT_EQ(std::pair(judged.Complete, judged.Counted), std::pair(c.Complete, c.Counted))
            << c.Found.value_or("(nothing)") << " " << c.Size << " " << c.Installed;
    }
    for (const auto& [target, counted] : {std::pair{"C:\\x\\vcl30.dpl", 0}, {"vcl30.dpl", 0}, {"A:vcl30.dpl", 0},
                                          {"C:\\vcl30.dpl\\x", 7}, {"C:\\x\\VCL30.DPL", 7}})
        EXPECT_EQ(qm::CountedSizeAt(target, 7), counted) << target;
    for (const auto& [target, installed, fits] : {std::tuple{"C:\\vcl30.dpl", 0, true}, {"C:\\vcl30.dpl", 7, true},
                                                  {"C:\\VCL30.DPL", 0, false}, {"C:\\a", -1, true}, {"C:\\a", 8, false}})
        EXPECT_EQ(qm::PlacedSizeFits(target, 7, installed), fits) << target << " " << installed;
    for (const auto& [target, installed, limit] :
         {std::tuple{"C:\\vcl30.dpl", std::optional(0), std::optional<std::int64_t>()}, {"C:\\vcl30.dpl", 7, 7},
          {"C:\\a", -1, {}}, {"C:\\a", {}, {}}, {"C:\\a", 0, 0}, {"C:\\VCL30.DPL", 0, 0}})
        EXPECT_EQ(qm::PlacedSizeLimit(target, installed), limit) << target;
}

// With an installed hash (field 7) the target's SHA-256 decides, and only then is it counted.
TEST(ListRules, CompletenessByContentWithAnInstalledHash)
{
    using enum qm::TTargetFinding;
    const qm::TListHash listed = qm::ReadHashField(std::string(64, 'a')), none;
    const struct {
        std::optional<std::string> Found;
        std::int64_t Size;
        std::int32_t Installed;
        const qm::TListHash& Hash;
        qm::TTargetFinding Finding;
        bool Complete, Counted;
    } cases[] = {
        {"a.bin", 10, 10, listed, ToHash, false, false},      {"a.bin", 10, 10, none, SizeOnly, true, true},
        {"a.bin", 10, 11, listed, OtherSize, false, false},   {std::nullopt, 0, 5, listed, Missing, false, false},
        {std::nullopt, 0, -1, listed, NothingThere, true, true}, {"SETUP.INI", 9, 9, listed, SetupFile, false, true},
        {"vcl30.dpl", 5000, 0, none, SizeOnly, true, true},   {"vcl30.dpl", 5000, 0, listed, ToHash, false, false},
    };
    for (const auto& c : cases) {
        const TCompleteness judged = qm::JudgeTarget(c.Found, c.Size, c.Installed, c.Hash);
        EXPECT_EQ(std::tuple(judged.Finding, judged.Complete, judged.Counted, judged.FoundSize),
                  std::tuple(c.Finding, c.Complete, c.Counted, c.Found ? c.Size : -1)) << c.Installed;
    }
    const TCompleteness sized = qm::JudgeTarget("a.bin", 10, 10, listed);
    EXPECT_TRUE(qm::JudgeContent(sized, listed.Digest, listed).Counted);
    EXPECT_EQ(qm::JudgeContent(sized, qm::TSha256Digest{1}, listed).Finding, OtherContent);
    EXPECT_FALSE(qm::JudgeContent(sized, std::nullopt, listed).Complete); // unreadable
}

TEST(ListRules, NamesALineMayUse)
{
    EXPECT_EQ(qm::TemporaryName("C:\\a"), "C:\\a.qm-part");
    for (const auto& [name, temporary] : {std::pair{"x.qm-part", true}, {"X.QM-PART", true}, {".qm-part", true},
                                          {"x.qm-part. .", true}, {"qm-part", false}, {"a.qm-par", false}})
        EXPECT_EQ(qm::IsTemporaryName(name), temporary) << name;
    for (const auto& [name, plain] : {std::pair{"a.txt", true}, {"...", false}, {"", false}, {".", false},
                                      {"..", false}, {"a\\b", false}, {"a/b", false}, {"c:x", false},
                                      {"com1.txt", false}})
        EXPECT_EQ(qm::IsPlainFileName(name), plain) << name;

    // The first problem of a line, or none (line 7 of the list; downloads in D:\dl, which keeps two files).
    const std::string longName(246, 'n');
    const std::pair<std::string, const char*> lines[] = {
        {"A\t1\t1\ta.bin\t{prog}\\a.bin", nullptr},
        {"A\t1\tx\ta.bin\t{prog}\\a", "The installed size in line 7 of the file list is not a number: \"x\""},
        {"A\t1\tx\t..\t{prog}\\a", "is not a number"},
        {"A\t1\t1\t..\t{prog}\\a", "the remote name \"..\" is not a plain file name"},
        {"A\t1\t1\ta.QM-PART\t{prog}\\a", "\"a.QM-PART\" ends in \".qm-part\""},
        {"A\t1\t1\tList.Txt\t{prog}\\a", "is the name of the list or its signature"},
        {"A\t1\t1\tlist.txt.SIG\t{prog}\\a", "is the name of the list or its signature"},
        {"A\t1\t1\tlist.txt.seq\t{prog}\\a", "is the name of the list or its signature"},
        {"A\t1\t1\ta.bin\t{prog}\\a.qm-part", "target it cannot use in line 7 of the file list: the target path \"{prog}\\a.qm-part\": \"a.qm-part\" ends in"},
        {"A\t1\t1\ta\tc:a.dll", nullptr}, {"A\t1\t1\ta\t{prog}/a.dll", nullptr}, {"A\t1\t1\ta\t\\\\s\\share\\.\\x\\..\\a.dll", nullptr},
        {"A\t1\t1\ta|b\tC:\\a", "the remote name \"a|b\" holds one of < > \" | ? *, which Windows refuses"},
        {"A\t1\t1\ta*\tC:\\a", "holds one of"}, {"A\t1\t1\t<\tC:\\a", "holds one of"}, {"A\t1\t1\ta\tC:\\x\\*.d?l", nullptr},
        {"A\t1\t1\ta\tD:\\dl\\.\\LIST.TXT.SIG", "target it cannot use in line 7 of the file list: the target path \"D:\\dl\\.\\LIST.TXT.SIG\" is a file the loader keeps"},
        {"A\t1\t1\ta\tD:/dl/x/../../QMLoader.LOG", "is a file the loader keeps"}, {"A\t1\t1\ta\tD:\\dl\\list.txt.sig2", nullptr},
        {"A\t1\t1\ta\t{sys}\\W~1\\a", "the target path \"{sys}\\W~1\\a\": \"W~1\" holds \"~\" and a digit"},
        {"A\t1\t1\t" + longName.substr(1) + "\tC:\\a", nullptr}, {"A\t1\t1\t" + longName + "\tC:\\a", "path too long for Windows in line 7"},
        {"A\t1\t1\ta\tC:\\abcde\\" + longName, "\" with \".qm-part\" behind it is longer than 259 characters"},
        {"A\t1\t1\ta\tC:\\CON\\x.dll", "\"CON\" is a Windows device name"}, {"A\t1\t1\ta\tC:\\sub \\x", "\"sub \" ends in a dot or a space"}, {"A\t1\t1\ta\tC:\\D:\\x", "\"D:\" holds \":\""},
    };
    for (const auto& [text, problem] : lines) {
        const qm::TListLine line = qm::ParseListLine(text);
        std::optional<std::string> found = qm::CheckListLine(line, line.TargetPath, 7);
        if (!found)
            found = qm::CheckLinePlace(line, line.TargetPath, "D:\\dl", {"D:\\dl\\list.txt.sig", "D:\\QMLoader.log"}, 7);
        if (!problem)
            EXPECT_EQ(found, std::nullopt) << text;
        else
            EXPECT_NE(found.value_or("").find(problem), std::string::npos) << text << ": " << found.value_or("none");
    }
    // Every name form as a remote name and as a target's file name.
    for (const auto& [name, reason] : NameForms)
        for (const std::string& line : {"A\t1\t1\t" + name + "\tC:\\a", "A\t1\t1\ta\tC:\\" + name}) {
            const std::string found = qm::CheckListLine(qm::ParseListLine(line), line.substr(line.rfind('\t') + 1), 7).value_or("-");
            EXPECT_TRUE(reason ? found.find(reason) != found.npos && found.find("in line 7") != found.npos : found == "-") << found;
        }
}

} // namespace
