// qmpack's manifest rules, a pack-and-verify round trip, and what verify
// finds in a damaged set.
#include "CommandLine.h"
#include "Pack.h"
#include "TextFile.h"
#include "Verify.h"
#include "Crypto.h"
#include "lzh/LzhD.h"
#include "release/NameForms.h"
#include "release/Sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qm::pack {
namespace {
namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& v)
{
    std::string all;
    for (const std::string& s : v)
        all += s + "\n";
    return all;
}

TEST(QmpackManifest, RefusesBadLinesNamingThem)
{
    const std::string good = "Good | a.txt | a.txt | {sys}\\a.txt | no\n";
    struct Case {
        std::string Line;
        std::string Error;
    };
    const Case cases[] = {
        {"Name\tx | a | b.dat | {sys}\\b | no", "the display name holds a TAB"},
        {"Name | a | b.dat | {sys}\\b\r\r | no", "the target path holds a CR"},
        {"Name | a | b.dat | {sys}\\b", "expected 5 fields"},
        {"Na|me | a | b.dat | {sys}\\b | no", "found 6"},
        {"Name | a | sub/b.dat | {sys}\\b | no", "\"sub/b.dat\" is not a plain file name"},
        {"Name | a | .. | {sys}\\b | no", "\"..\" is not a plain file name"},
        {"Name | a | my file.txt | {sys}\\b | no", "not a plain file name"},
        {"Name | a | nul.txt | {sys}\\b | no", "\"nul.txt\" is a Windows device name"},
        {"Name | a | LIST.TXT | {sys}\\b | no", "the name of the list or its signature"},
        {"Name | a | b.dat | {sys}\\b | Yes", "must be \"yes\" or \"no\""},
        {"Name |  | b.dat | {sys}\\b | no", "the source file is empty"},
        {"Other | a | A.TXT | {sys}\\b | no", "remote name \"A.TXT\" is already used on line 1"},
        {"Name | a | b.dat | {prog}\\A.txt | yes", "target \"{prog}\\A.txt\" is the downloaded copy"},
    };
    // Each bad line second and, but for the name used twice, first.
    for (const Case& c : cases) {
        for (const bool first : {false, true}) {
            if (first && c.Error.find("already used") != std::string::npos)
                continue;
            const TManifest m = ParseManifest(first ? c.Line + "\n" + good : good + c.Line + "\n", "m");
            ASSERT_EQ(m.Errors.size(), 1u) << c.Line << "\n" << Joined(m.Errors);
            EXPECT_EQ(m.Errors[0].substr(0, 4), first ? "m:1:" : "m:2:") << m.Errors[0];
            EXPECT_NE(m.Errors[0].find(c.Error), std::string::npos) << m.Errors[0];
        }
    }
}

// The loader's name rule, with the line (the manifest trims a field's blanks).
TEST(QmpackManifest, RefusesEveryNameTheLoaderRefuses)
{
    for (const auto& [name, reason] : NameForms)
        for (const std::string& line : {"N|a|" + name + "|{prog}\\b|no", "N|a|b|{prog}\\" + name + "|no"}) {
            const std::string e = Joined(ParseManifest("#\n" + line, "m").Errors);
            EXPECT_TRUE(!reason || name.empty() || name.ends_with(' ') || (e.starts_with("m:2: ") && e.find(reason) != e.npos)) << e;
        }
}

TEST(QmpackManifest, ReadsCommentsBlanksAndCrLf)
{
    const TManifest m = ParseManifest("# heading\r\n\r\n  Setup program |s/setup.exe| setup.ex_ |"
                                      "{prog}\\setup.exe|yes\r\n   # indented comment\nLib|l.dll|l.dll|{sys}\\l.dll|no",
                                      "m");
    ASSERT_TRUE(m.Errors.empty()) << Joined(m.Errors);
    ASSERT_EQ(m.Entries.size(), 2u);
    EXPECT_EQ(m.Entries[0].Line, 3);
    EXPECT_EQ(m.Entries[0].DisplayName, "Setup program");
    EXPECT_EQ(m.Entries[0].Source, "s/setup.exe");
    EXPECT_EQ(m.Entries[0].TargetPath, "{prog}\\setup.exe");
    EXPECT_TRUE(m.Entries[0].Compressed);
    EXPECT_EQ(m.Entries[1].Line, 5);
    EXPECT_FALSE(m.Entries[1].Compressed);
}

TEST(QmpackCommandLine, TakesKnownCommandsWithTheirOperands)
{
    EXPECT_EQ(ParseCommandLine({"build", "m.txt", "out"}).Operands, (std::vector<std::string>{"m.txt", "out"}));
    EXPECT_EQ(ParseCommandLine({"verify", "dir"}).Name, "verify");
    for (const auto& bad : std::vector<std::vector<std::string>>{{}, {"verify"}, {"build", "m"}, {"pack", "a", "b"}})
        EXPECT_EQ(ParseCommandLine(bad).Name, "");
}

class QmpackSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() /
                ("qmpack-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "src");
        for (int i = 0; i < 4000; ++i)
            text_ += "line " + std::to_string(i * 7919 % 1000) + " of the course text\n";
        binary_.resize(70000);
        for (std::size_t i = 0; i < binary_.size(); ++i)
            binary_[i] = static_cast<char>((i * 2654435761u) >> 13);
        WriteText(root_ / "src/text.txt", text_);
        WriteText(root_ / "src/lib.dll", binary_);
        WriteText(root_ / "src/empty.dat", "");
        WriteText(root_ / "src/SETUP.INI", "[Setup]\r\n");
        WriteText(root_ / "manifest.txt", "Course text | src/text.txt | text.tx_ | {prog}\\text.txt | yes\n"
                                    "Library | src/lib.dll | lib.dll | {sys}\\lib.dll | no\n"
                                    "Empty | src/empty.dat | empty.da_ | {prog}\\empty.dat | yes\n"
                                    "Setup info | src/SETUP.INI | SETUP.IN_ | {prog}\\SETUP.INI | no\n");
    }
    void TearDown() override { fs::remove_all(root_); }

    TPackResult Pack() { return PackReleaseSet(root_ / "manifest.txt", root_ / "out"); }

    fs::path root_;
    std::string text_, binary_;
};

TEST_F(QmpackSet, PacksExactSizesThatVerifyAndDecode)
{
    ASSERT_TRUE(Pack().Errors.empty());
    const TPackResult r = Pack(); // again over the first set: every file is replaced
    ASSERT_TRUE(r.Errors.empty()) << Joined(r.Errors);
    const fs::path out = root_ / "out";
    const auto size = [&](const char* name) { return std::to_string(fs::file_size(out / name)); };
    // Field 6: the SHA-256 of the file written (one pinned, computed apart).
    const auto sha = [&](const char* name) {
        std::string field = "\t"; // not "\t" + ...: g++ 12 warns wrongly (-Wrestrict) on that
        return field += HexText(FileSha256(out / name));
    };
    const std::string setupSha = "\t5d2769736b7f976a8d5d54b6a81cc57c674118c86b127b1b09c9c27bdadbebcd";
    EXPECT_EQ(ReadText(out / "list.txt"),
              "Course text\t" + size("text.tx_") + "\t" + std::to_string(text_.size()) +
                  "\ttext.tx_\t{prog}\\text.txt\tyes" + sha("text.tx_") + "\t" + HexText(TSha256::Of(text_)) + "\r\n" +
                  "Library\t70000\t70000\tlib.dll\t{sys}\\lib.dll\tno" + sha("lib.dll") + sha("lib.dll") + "\r\n" +
                  "Empty\t" + size("empty.da_") + "\t0\tempty.da_\t{prog}\\empty.dat\tyes" + sha("empty.da_") +
                  "\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\r\n"
                  "Setup info\t9\t9\tSETUP.IN_\t{prog}\\SETUP.INI\tno" + setupSha + setupSha + "\r\n");
    EXPECT_LT(fs::file_size(out / "text.tx_"), text_.size() / 3);
    EXPECT_EQ(ReadText(out / "lib.dll"), binary_);

    TLzhD lzh;
    lzh.InputFile = (out / "text.tx_").string();
    lzh.OutputFile = (root_ / "decoded.txt").string();
    lzh.Decompress();
    EXPECT_EQ(ReadText(root_ / "decoded.txt"), text_);

    const TVerifyReport v = VerifyReleaseSet(out);
    EXPECT_EQ(v.Lines, 4);
    EXPECT_TRUE(v.Problems.empty()) << Joined(v.Problems);
    // The list ends at a 0 byte, as the loader reads it.
    WriteText(out / "list.txt", ReadText(out / "list.txt") + std::string("\0Odd\t1\t1\r\n", 10));
    EXPECT_EQ(VerifyReleaseSet(out).Lines, 4);
    EXPECT_TRUE(VerifyReleaseSet(out).Problems.empty());
    // Any name a manifest may use stays the file it names (the list is written through a temporary).
    WriteText(root_ / "manifest.txt", ReadText(root_ / "manifest.txt") + "New | src/lib.dll | list.txt.new | {sys}\\n | no\n");
    ASSERT_TRUE(Pack().Errors.empty());
    EXPECT_TRUE(VerifyReleaseSet(out).Problems.empty()) << Joined(VerifyReleaseSet(out).Problems);
}

TEST_F(QmpackSet, MissingSourceWritesNothing)
{
    WriteText(root_ / "manifest.txt", ReadText(root_ / "manifest.txt") + "Gone | src/gone.dat | gone.dat | {sys}\\g | no\n");
    const TPackResult r = Pack();
    ASSERT_EQ(r.Errors.size(), 1u) << Joined(r.Errors);
    EXPECT_NE(r.Errors[0].find("manifest.txt:5: source file not found"), std::string::npos) << r.Errors[0];
    EXPECT_FALSE(fs::exists(root_ / "out"));
}

TEST_F(QmpackSet, VerifyFindsEachDamage)
{
    ASSERT_TRUE(Pack().Errors.empty());
    const fs::path out = root_ / "out";
    const std::string list = ReadText(out / "list.txt");
    const std::string compressed = ReadText(out / "text.tx_");
    // The list with the installed hash of Placed (its last field) replaced.
    const auto Edited = [&](const std::string& Placed) {
        std::string edited = list, hash = HexText(TSha256::Of(Placed));
        return edited.replace(edited.find(hash + "\r\n"), hash.size(), std::string(64, '0'));
    };
    struct Case {
        const char* What;
        std::function<void()> Damage;
        std::string Problem;
    };
    const Case cases[] = {
        {"truncated download", [&] { WriteText(out / "text.tx_", compressed.substr(0, compressed.size() - 1)); },
         "list.txt:1: file text.tx_ has"},
        {"header size changed",
         [&] {
             std::string c = compressed;
             c[4] = static_cast<char>(c[4] + 1);
             WriteText(out / "text.tx_", c);
         },
         "list.txt:1: compressed file text.tx_ "},
        {"missing file", [&] { fs::remove(out / "lib.dll"); }, "list.txt:2: file lib.dll is missing"},
        {"duplicate remote name",
         [&] { WriteText(out / "list.txt", list + "Odd\t9\t10\tSETUP.IN_\t{sys}\\x\tno\r\n"); },
         "list.txt:5: remote name \"SETUP.IN_\" is already used on line 4"},
        {"plain sizes differ", [&] { WriteText(out / "list.txt", list + "Odd\t70000\t9\tlib.dll\t{sys}\\x\tno\r\n"); },
         "list.txt:5: plain file lib.dll: download size 70000 differs from installed size 9"},
        {"short line", [&] { WriteText(out / "list.txt", list + "Odd\t1\t1\r\n"); }, "list.txt:5: expected at least 5"},
        {"installed hash of a compressed file", [&] { WriteText(out / "list.txt", Edited(text_)); },
         "list.txt:1: compressed file text.tx_ decodes to bytes without the listed installed SHA-256"},
        {"installed hash of a plain file", [&] { WriteText(out / "list.txt", Edited(binary_)); },
         "list.txt:2: plain file lib.dll does not have the listed installed SHA-256"},
        {"size not a number", [&] { WriteText(out / "list.txt", list + "Odd\t1x\t1\tlib.dll\t{sys}\\l\r\n"); },
         "list.txt:5: download size \"1x\""},
    };
    for (const auto& [name, reason] : NameForms) { // the loader's name rule, with the line
        WriteText(out / "list.txt", list + "O\t1\t1\t" + name + "\t{sys}\\x\r\nO\t1\t1\tok\t{sys}\\" + name + "\r\n");
        const std::string f = Joined(VerifyReleaseSet(out).Problems);
        EXPECT_TRUE(!reason || (f.find("list.txt:5: ") != f.npos && f.find("list.txt:6: ") != f.npos && f.find(reason) != f.npos)) << f;
    }
    for (const Case& c : cases) {
        WriteText(out / "list.txt", list);
        WriteText(out / "text.tx_", compressed);
        WriteText(out / "lib.dll", binary_);
        c.Damage();
        const TVerifyReport v = VerifyReleaseSet(out);
        ASSERT_FALSE(v.Problems.empty()) << c.What;
        EXPECT_NE(Joined(v.Problems).find(c.Problem), std::string::npos) << c.What << ":\n" << Joined(v.Problems);
    }
}

} // namespace
} // namespace qm::pack
