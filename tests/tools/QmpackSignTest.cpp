// qmpack's signed sets, with the build's own library (OpenSSL natively, CNG
// in qmpack.exe): a signed set verifies, and verify names each alteration.
#include "Crypto.h"
#include "Pack.h"
#include "TextFile.h"
#include "ReleaseSign.h"

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
        SignReleaseSet(Out(), root_ / "k.priv");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Out() const { return root_ / "out"; }
    std::vector<std::string> Check(const char* Key = "k.pub") const { return CheckReleaseHashes(Out(), root_ / Key); }

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
    EXPECT_EQ(CheckReleaseHashes(Out(), std::nullopt), std::vector<std::string>{});
    const std::string list = ReadText(Out() / "list.txt");
    const std::string sig = ReadText(Out() / "list.txt.sig");
    const std::string fileB = ReadText(Out() / "b.dat");
    const std::string hashB = HexText(FileSha256(Out() / "b.dat"));
    const std::string notVerified = "list.txt.sig: does not verify list.txt with " + (root_ / "k.pub").string();
    WriteKeyPair(root_ / "o.priv", root_ / "o.pub");
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
         {"list.txt.sig: the signature file's second line is not 128 hex digits"}},
        {"another key", [] {}, {"list.txt.sig: does not verify list.txt with " + (root_ / "o.pub").string()},
         "o.pub"},
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

TEST_F(QmpackSign, AKeyWhoseHalvesDoNotBelongTogetherSignsNothing)
{
    TPrivateKey key = ReadPrivateKey(ReadText(root_ / "k.priv"));
    const TPrivateKey other = GenerateKey();
    std::copy(other.begin(), other.begin() + 64, key.begin()); // another public point
    WriteText(root_ / "mixed.priv", FormatPrivateKey(key));
    fs::remove(Out() / "list.txt.sig");
    EXPECT_THROW(SignReleaseSet(Out(), root_ / "mixed.priv"), Exception);
    EXPECT_FALSE(fs::exists(Out() / "list.txt.sig"));
}

} // namespace
} // namespace qm::pack
