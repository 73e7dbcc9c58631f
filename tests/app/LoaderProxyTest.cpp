// A download run through a real proxy set in the proxy dialog: tinyproxy
// with Basic authorization, started around this test by
// tests/http/run_http_peers.sh (QM_PEER_AUTH_PROXY, QM_PEER_AUTH).
#include "LoaderRunFixture.h"

#include <cstdlib>

namespace qm::test {
namespace {

TEST_F(LoaderRunTest, ARunGoesThroughTheProxySetInTheDialog)
{
    const char* proxy = std::getenv("QM_PEER_AUTH_PROXY");
    const char* auth = std::getenv("QM_PEER_AUTH");
    ASSERT_TRUE(proxy && auth) << "run this test under tests/http/run_http_peers.sh";
    const std::string credentials = auth;
    PostAction([&] {
        Setup->EProxy.SetText(proxy);
        Setup->EUser.SetText(credentials.substr(0, credentials.find(':')));
        Setup->EPass.SetText(credentials.substr(credentials.find(':') + 1));
        Setup->Button1.Click();
    });
    Form->SpeedButton1.Click();

    const std::string plain(50000, 'p');
    const std::string packed = Compressed(plain);
    const std::string size = std::to_string(packed.size());
    const std::string list = ListText({ListLine("A", size, "50000", "a.lzh", "{prog}\\a.txt", "yes")});
    Server.Script({Ok(list), Ok(packed)});
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    EXPECT_EQ(ReadWholeFile(Prog("a.txt")), plain);
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "a.lzh"}));
    for (const std::string& request : Server.Requests()) { // relayed by the proxy, without its password
        EXPECT_NE(request.find("\r\nVia: "), std::string::npos) << request;
        EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
    }
}

} // namespace
} // namespace qm::test
