// SHA-256: the published test vectors through the plain rounds and (where
// the processor has them) the SHA extensions, fed whole and cut at many
// points; every padding case fed byte by byte.
#include "release/Sha256.h"

#include "TestSeed.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const qm::TSha256Digest& Digest)
{
    return qm::HexText(Digest);
}

TEST(Sha256, PublishedVectorsWholeAndCutAtEveryPoint)
{
    const struct {
        std::string Message;
        const char* Digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    std::vector<qm::TSha256Rounds> rounds{qm::TSha256Rounds::Plain};
    if (qm::HasSha256Extensions())
        rounds.push_back(qm::TSha256Rounds::Extensions);
    for (const auto& v : vectors)
        for (const qm::TSha256Rounds r : rounds) {
            EXPECT_EQ(Hex(qm::TSha256::Of(v.Message, r)), v.Digest) << v.Message.size() << " bytes";
            for (std::size_t cut = 0; cut <= std::min<std::size_t>(v.Message.size(), 130); ++cut) {
                qm::TSha256 sha(r);
                sha.Update(v.Message.data(), cut);
                sha.Update(v.Message.data() + cut, v.Message.size() - cut);
                ASSERT_EQ(Hex(sha.Finish()), v.Digest) << "cut at " << cut;
            }
        }
}

// Every length from 0 to 300 bytes, hashed in one piece and byte by byte,
// ends on every padding case (55, 56, 63, 64 bytes into a block).
TEST(Sha256, EveryLengthHashesAlikeWholeAndByteByByte)
{
    std::mt19937 random(qm::test::TestSeed());
    std::string message(300, '\0');
    for (char& c : message)
        c = static_cast<char>(random());
    for (std::size_t n = 0; n <= message.size(); ++n) {
        qm::TSha256 bytewise;
        for (std::size_t i = 0; i < n; ++i)
            bytewise.Update(&message[i], 1);
        ASSERT_EQ(bytewise.Finish(), qm::TSha256::Of(std::string_view(message).substr(0, n))) << n << " bytes";
    }
}

} // namespace
