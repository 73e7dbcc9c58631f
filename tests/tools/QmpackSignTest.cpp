// qmpack's signed sets, with the build's own library (OpenSSL natively, CNG
// in qmpack.exe): a signed set verifies, and verify names each alteration.
#include "Crypto.h"
#include "Pack.h"
#include "TextFile.h"
#include "ReleaseSign.h"
#include "SignOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace qm::pack {
namespace {
namespace fs = std::filesystem;

void Replace(const fs::path& P, const std::string& From, const std::string& To)
{
    std::string text = ReadText(P);
    const std::size_t at = text.find(From);
    ASSERT_NE(at, std::string::npos) << From;
    WriteText(P, text.replace(at, From.size(), To));
}

class QmpackSign : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() /
                ("qmpack-sign-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        WriteText(root_ / "a.txt", std::string(3000, 'a'));
        WriteText(root_ / "b.txt", std::string(3000, 'b'));
        WriteText(root_ / "m.txt", "A | a.txt | a.tx_ | {prog}\\a.txt | yes\nB | b.txt | b.dat | {sys}\\b.txt | no\n");
        WriteKeyPair(root_ / "k.priv", root_ / "k.pub");
        ASSERT_TRUE(PackReleaseSet(root_ / "m.txt", Out()).Errors.empty());
        SignReleaseSet(Out(), root_ / "k.priv", 7, std::nullopt);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Out() const { return root_ / "out"; }
    TReleaseCheck CheckSet(const char* Key = "k.pub") const { return CheckReleaseHashes(Out(), root_ / Key, Now); }
    std::vector<std::string> Check(const char* Key = "k.pub") const { return CheckSet(Key).Problems; }

    static constexpr std::int64_t Now = 1798761600;

    fs::path root_;
};

TEST_F(QmpackSign, KeygenWritesAnOwnerOnlyKeyAndNeverOverwritesIt)
{
#ifndef _WIN32
    EXPECT_EQ(fs::status(root_ / "k.priv").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
    const std::string before = ReadText(root_ / "k.priv");
    EXPECT_THROW(WriteKeyPair(root_ / "k.priv", root_ / "k2.pub"), Exception);
    EXPECT_EQ(ReadText(root_ / "k.priv"), before);
    EXPECT_EQ(FormatPublicKey(PublicKeyOf(ReadPrivateKey(before))), ReadText(root_ / "k.pub"));
}

// The signed set verifies; each alteration is named.
TEST_F(QmpackSign, VerifyNamesEachAlteration)
{
    EXPECT_EQ(Check(), std::vector<std::string>{});
    EXPECT_EQ(CheckSet().Signature->Sequence, 7u);
    EXPECT_EQ(CheckReleaseHashes(Out(), std::nullopt, Now).Problems, std::vector<std::string>{});
    const std::string list = ReadText(Out() / "list.txt");
    const std::string sig = ReadText(Out() / "list.txt.sig");
    const std::string fileB = ReadText(Out() / "b.dat");
    const std::string hashB = HexText(FileSha256(Out() / "b.dat"));
    const std::string notVerified = "list.txt.sig: does not verify list.txt with " + (root_ / "k.pub").string();
    const std::string badSequence = "list.txt.sig: the signature file's second line is not \"sequence\" and a "
                                    "decimal number from 0 to 9223372036854775807";
    WriteKeyPair(root_ / "o.priv", root_ / "o.pub");
    // Format 3's first lines, and the signature's value line.
    const std::string format3 = "QMSIG 3 ecdsa-p256-sha256\nsequence 7\nexpires never\n";
    const std::string value = sig.substr(sig.size() - 129);
    std::string crlf;
    for (const char c : sig)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const struct {
        const char* Name;
        std::function<void()> Alter;
        std::vector<std::string> Problems;
        const char* Key = "k.pub";
    } cases[] = {
        {"a byte of a file", [&] { Replace(Out() / "b.dat", "bbb", "bcb"); },
         {"list.txt:2: file b.dat does not have the listed SHA-256 hash"}},
        {"a size in the list", [&] { Replace(Out() / "list.txt", "\t3000\t", "\t3001\t"); }, {notVerified}},
        {"a hash in the list", [&] { Replace(Out() / "list.txt", hashB, std::string(64, '0')); },
         {"list.txt:2: file b.dat does not have the listed SHA-256 hash", notVerified}},
        {"a broken hash", [&] { Replace(Out() / "list.txt", hashB, "x"); },
         {"list.txt:2: the SHA-256 hash \"x\" is not 64 hex digits", notVerified}},
        {"no hash", [&] { Replace(Out() / "list.txt", "\t" + hashB, ""); },
         {"list.txt:2: no SHA-256 hash (field 6), which a signed list needs on every line", notVerified}},
        {"no signature", [&] { fs::remove(Out() / "list.txt.sig"); }, {"list.txt.sig: missing"}},
        {"a truncated signature", [&] { WriteText(Out() / "list.txt.sig", sig.substr(0, 60)); },
         {"list.txt.sig: the signature file's fourth line is not 128 hex digits"}},
        {"CR LF line ends", [&] { WriteText(Out() / "list.txt.sig", crlf); }, {}},
        {"the sequence raised", [&] { Replace(Out() / "list.txt.sig", "sequence 7", "sequence 8"); }, {notVerified}},
        {"an expiry added", [&] { Replace(Out() / "list.txt.sig", "never", "9999999999"); }, {notVerified}},
        {"expired", [&] { SignReleaseSet(Out(), root_ / "k.priv", 7, Now); },
         {"list.txt.sig: the list expired at 2027-01-01 00:00:00 UTC; the loader refuses it"}},
        {"format 1", [&] { WriteText(Out() / "list.txt.sig", "QMSIG 1 ecdsa-p256-sha256\n" + sig.substr(51)); },
         {"list.txt.sig: the list was signed by an older qmpack (signature format 1): the publisher must sign it "
          "again with this qmpack"}},
        {"a leading zero", [&] { Replace(Out() / "list.txt.sig", "sequence 7", "sequence 07"); }, {badSequence}},
        {"a sequence of 2^63", [&] { Replace(Out() / "list.txt.sig", " 7", " 9223372036854775808"); }, {badSequence}},
        {"no sequence", [&] { Replace(Out() / "list.txt.sig", "sequence 7\n", ""); }, {badSequence}},
        {"a negative expiry", [&] { Replace(Out() / "list.txt.sig", "never", "-1"); },
         {"list.txt.sig: the signature file's third line is not \"expires\" and a decimal number from 0 to "
          "9223372036854775807 or \"never\""}},
        {"a fifth line", [&] { WriteText(Out() / "list.txt.sig", sig + "\n"); },
         {"list.txt.sig: the signature file holds more than four lines"}},
        {"another key", [] {}, {"list.txt.sig: does not verify list.txt with " + (root_ / "o.pub").string()},
         "o.pub"},
        {"a signed mirror changed", [&] {
             SignReleaseSet(Out(), root_ / "k.priv", 7, std::nullopt, {"https://m.example/set/"});
             Replace(Out() / "list.txt.sig", "m.example", "n.example");
         }, {notVerified}},
        {"nine mirrors", [&] { std::string t = format3; for (int i = 0; i < 9; ++i) t += "mirror http://m/\n";
                                WriteText(Out() / "list.txt.sig", t + value); },
         {"list.txt.sig: the signature names 9 mirrors; at most 8 are allowed"}},
        {"a mirror that is no base URL",
         [&] { WriteText(Out() / "list.txt.sig", format3 + "mirror http://m/x\n" + value); },
         {"list.txt.sig: the signature's mirror \"http://m/x\" is refused: it does not end with /"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Alter();
        EXPECT_EQ(Check(c.Key), c.Problems);
        WriteText(Out() / "list.txt", list);
        WriteText(Out() / "list.txt.sig", sig);
        WriteText(Out() / "b.dat", fileB);
        ASSERT_EQ(Check(), std::vector<std::string>{});
    }
}

// --sequence and --expires: their values, the day an expiry ends, and each
// misuse.
TEST(QmpackSignOptions, ValuesAndErrors)
{
    const struct {
        std::vector<std::string> Args;
        std::optional<std::uint64_t> Sequence;
        std::optional<std::int64_t> Expires;
        std::string Error;
    } cases[] = {
        {{"--sign", "k", "--expires", "2026-12-31"}, {}, 1798761600, ""},
        {{"--sign", "k", "--expires", "2028-02-29"}, {}, 1835481600, ""},
        {{"--sign", "k", "--expires", "1970-01-01"}, {}, 86400, ""},
        {{"--sequence", "9223372036854775807", "--sign", "k"}, 9223372036854775807u, {}, ""},
        {{"--sign", "k", "--expires", "2027-02-29"}, {}, {}, "--expires 2027-02-29: not a date YYYY-MM-DD (1970 to 9999)"},
        {{"--sign", "k", "--expires", "2026-1-31"}, {}, {}, "--expires 2026-1-31: not a date YYYY-MM-DD (1970 to 9999)"},
        {{"--sign", "k", "--expires", "1969-12-31"}, {}, {}, "--expires 1969-12-31: not a date YYYY-MM-DD (1970 to 9999)"},
        {{"--sign", "k", "--sequence", "-1"}, {}, {}, "--sequence -1: not a decimal number from 0 to 9223372036854775807"},
        {{"--sequence", "5"}, {}, {}, "--sequence, --expires and --mirror go only with --sign"},
        {{"--mirror", "http://m/"}, {}, {}, "--sequence, --expires and --mirror go only with --sign"},
        {{"--sign", "k", "--mirror", "ftp://m/"}, {}, {},
         "--mirror ftp://m/: it does not start with http:// or https://"},
        {{"--sign", "k", "--expires"}, {}, {}, "--expires takes one value, once"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.Args;
        const TSignOptions options = TakeSignOptions(args);
        EXPECT_EQ(options.Error, c.Error) << c.Args[1];
        if (c.Error.empty()) {
            EXPECT_EQ(options.Sequence, c.Sequence) << c.Args[1];
            EXPECT_EQ(options.Expires, c.Expires) << c.Args[1];
            EXPECT_EQ(args, std::vector<std::string>{});
        }
    }
    EXPECT_EQ(UtcText(1835481599), "2028-02-29 23:59:59 UTC");
    EXPECT_THROW(FormatListSignature({std::uint64_t{1} << 63, std::nullopt, {}, {}}), EReleaseFileError);
}

// Without mirrors the signature stays in format 2; with them it is format 3,
// verifies, and verify names them.
TEST_F(QmpackSign, MirrorsAreSignedInFormat3)
{
    EXPECT_TRUE(ReadText(Out() / "list.txt.sig").starts_with("QMSIG 2 ecdsa-p256-sha256\nsequence 7\n"));
    SignReleaseSet(Out(), root_ / "k.priv", 7, std::nullopt, {"https://m.example/set/", "http://127.0.0.1:8/v/"});
    EXPECT_TRUE(ReadText(Out() / "list.txt.sig").starts_with("QMSIG 3 ecdsa-p256-sha256\nsequence 7\nexpires never\n"
                                                             "mirror https://m.example/set/\n"));
    EXPECT_EQ(Check(), std::vector<std::string>{});
    EXPECT_EQ(DescribeSignature(*CheckSet().Signature),
              "sequence 7, never expires, mirror https://m.example/set/, mirror http://127.0.0.1:8/v/");
}

TEST_F(QmpackSign, AKeyWhoseHalvesDoNotBelongTogetherSignsNothing)
{
    TPrivateKey key = ReadPrivateKey(ReadText(root_ / "k.priv"));
    const TPrivateKey other = GenerateKey();
    std::copy(other.begin(), other.begin() + 64, key.begin()); // another public point
    WriteText(root_ / "mixed.priv", FormatPrivateKey(key));
    fs::remove(Out() / "list.txt.sig");
    EXPECT_THROW(SignReleaseSet(Out(), root_ / "mixed.priv", 7, std::nullopt), Exception);
    EXPECT_FALSE(fs::exists(Out() / "list.txt.sig"));
}

} // namespace
} // namespace qm::pack
