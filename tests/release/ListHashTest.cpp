// Hex digits, the list's hash field, and the key and signature files.
#include "release/ListHash.h"
#include "release/ReleaseFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string WithCrLf(std::string Text)
{
    for (std::size_t at = 0; (at = Text.find('\n', at)) != std::string::npos; at += 2)
        Text.insert(at, 1, '\r');
    return Text;
}

TEST(ListHash, HexDigitsEitherCaseInPairs)
{
    EXPECT_EQ(qm::HexText(Bytes{0x00, 0x9f, 0xa0, 0xff}), "009fa0ff");
    const std::pair<const char*, std::optional<Bytes>> cases[] = {
        {"", Bytes{}},
        {"09afAF", Bytes{0x09, 0xaf, 0xaf}},
        {"0aF9", Bytes{0x0a, 0xf9}},
        {"00", Bytes{0x00}},
        {"abc", std::nullopt},
        {"0g", std::nullopt},
        {"/0", std::nullopt},
        {":0", std::nullopt},
        {"`0", std::nullopt},
        {"@0", std::nullopt},
        {"0G", std::nullopt},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(qm::HexBytes(text), bytes) << text;
}

TEST(ListHash, FieldSixAbsentDigestOrMalformed)
{
    const std::string lower = "ff8b6d510012f25091fe1374d333b49ae9146720d94ff5ecad7eb61ef851b82e";
    std::string upper = lower;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const qm::TListHash digest = qm::ReadHashField(lower);
    ASSERT_EQ(digest.Kind, qm::TListHash::TKind::Digest);
    EXPECT_EQ(qm::HexText(digest.Digest), lower);
    EXPECT_EQ(qm::ReadHashField(upper).Digest, digest.Digest);
    EXPECT_EQ(qm::ReadHashField(upper).Text, upper);
    EXPECT_EQ(qm::ReadListHash("a\t1\t1\ta\tt\tno\t" + upper + "\tx").Digest, digest.Digest);

    using enum qm::TListHash::TKind;
    const std::pair<std::string, qm::TListHash::TKind> cases[] = {
        {"", Absent},
        {lower.substr(1), Malformed},
        {lower.substr(2), Malformed},
        {lower + "0", Malformed},
        {lower.substr(0, 63) + "g", Malformed},
    };
    for (const auto& [field, kind] : cases) {
        EXPECT_EQ(qm::ReadHashField(field).Kind, kind) << field;
        EXPECT_EQ(qm::ReadHashField(field).Text, field);
    }
    EXPECT_EQ(qm::ReadListHash("a\t1\t1\ta\tt\tno").Kind, Absent);
}

TEST(ReleaseFiles, CrLfLinesReadLikeLfLines)
{
    qm::TPrivateKey key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i * 37 + 1);
    qm::TRawSignature signature{};
    std::copy_n(key.rbegin(), signature.size(), signature.begin());
    const std::string publicText = qm::FormatPublicKey(qm::PublicKeyOf(key));
    EXPECT_EQ(qm::ReadPublicKey(WithCrLf(publicText)), qm::PublicKeyOf(key));
    EXPECT_EQ(qm::ReadPrivateKey(WithCrLf(qm::FormatPrivateKey(key))), key);
    const qm::TListSignature listSignature{42, 1798761600, signature, {"http://m/"}};
    EXPECT_EQ(qm::ReadListSignature(WithCrLf(qm::FormatListSignature(listSignature))), listSignature);
    // Upper-case digits and no final line break: the same key.
    std::string upper = qm::HexText(qm::PublicKeyOf(key));
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(qm::ReadPublicKey(std::string(qm::PublicKeyHeader) + "\r\n" + upper), qm::PublicKeyOf(key));
    for (const std::string& bad : {publicText + "\n", publicText.substr(0, publicText.size() - 2),
                                   WithCrLf(publicText) + "x", publicText.substr(1)})
        EXPECT_THROW(qm::ReadPublicKey(bad), qm::EReleaseFileError) << bad;
}

} // namespace
