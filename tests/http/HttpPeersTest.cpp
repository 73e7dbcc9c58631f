// THttpCli::Get against real peers on 127.0.0.1: an HTTP server, an open
// HTTP proxy and a proxy that requires Basic authorization. The peers and the
// file they serve are set up by run_http_peers.sh, which passes:
//   QM_PEER_URL         http://127.0.0.1:<port>/<file> on the server
//   QM_PEER_DATA        the same file as a local (Windows) path
//   QM_PEER_PROXY       host:port of the open proxy
//   QM_PEER_AUTH_PROXY  host:port of the authenticating proxy
//   QM_PEER_AUTH        its user:password
#include "base/Stream.h"
#include "http/HttpProt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace qm {
namespace {

std::string Env(const char* Name)
{
    const char* v = std::getenv(Name);
    return v != nullptr ? v : "";
}

enum class TCredentials { None, Right, Wrong };

struct TPeerCase {
    const char* Name;
    const char* ProxyVar; // nullptr: direct
    TCredentials Credentials;
    int Status; // 200: the whole file arrives; otherwise the proxy's answer, which Get raises
};

void PrintTo(const TPeerCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

const TPeerCase PeerCases[] = {
    {"Direct", nullptr, TCredentials::None, 200},
    {"Proxy", "QM_PEER_PROXY", TCredentials::None, 200},
    {"AuthProxyRightCredentials", "QM_PEER_AUTH_PROXY", TCredentials::Right, 200},
    // This proxy answers a missing Proxy-Authorization with 407 and a wrong
    // one with 401; either way Get must raise with the proxy's status.
    {"AuthProxyWrongCredentials", "QM_PEER_AUTH_PROXY", TCredentials::Wrong, 401},
    {"AuthProxyNoCredentials", "QM_PEER_AUTH_PROXY", TCredentials::None, 407},
};

testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& Got, const std::vector<std::uint8_t>& Want)
{
    const auto [g, w] = std::mismatch(Got.begin(), Got.end(), Want.begin(), Want.end());
    if (g == Got.end() && w == Want.end())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "received " << Got.size() << " bytes, expected " << Want.size()
                                       << "; first difference at offset " << (g - Got.begin());
}

class HttpPeers : public testing::TestWithParam<TPeerCase> {
protected:
    static void SetUpTestSuite()
    {
        std::ifstream in(Env("QM_PEER_DATA"), std::ios::binary);
        Expected = std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    void SetUp() override
    {
        ASSERT_FALSE(Env("QM_PEER_URL").empty()) << "run this through run_http_peers.sh, which starts the peers";
        ASSERT_GT(Expected.size(), 1u << 20) << "cannot read QM_PEER_DATA=" << Env("QM_PEER_DATA");
    }
    static inline std::vector<std::uint8_t> Expected;
};

TEST_P(HttpPeers, Get)
{
    const TPeerCase& c = GetParam();
    THttpCli http;
    TMemoryStream body;
    http.URL = Env("QM_PEER_URL");
    http.RcvdStream = &body;
    if (c.ProxyVar != nullptr)
        http.Proxy = Env(c.ProxyVar);
    if (c.Credentials != TCredentials::None) {
        const std::string auth = Env("QM_PEER_AUTH");
        http.Username = auth.substr(0, auth.find(':'));
        http.Password = auth.substr(auth.find(':') + 1) + (c.Credentials == TCredentials::Wrong ? "x" : "");
    }
    if (c.Status == 200) {
        ASSERT_NO_THROW(http.Get()) << http.StatusCode() << " " << http.ReasonPhrase();
        EXPECT_EQ(http.StatusCode(), 200);
        EXPECT_EQ(http.ContentLength(), static_cast<std::int64_t>(Expected.size()));
        EXPECT_EQ(http.RcvdCount(), static_cast<std::int64_t>(Expected.size()));
        EXPECT_TRUE(SameBytes(body.Bytes(), Expected));
        return;
    }
    try {
        http.Get();
        ADD_FAILURE() << "Get returned with status " << http.StatusCode();
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode, c.Status) << e.Message;
        EXPECT_EQ(http.StatusCode(), c.Status);
        EXPECT_EQ(http.State(), hsReady);
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, HttpPeers, testing::ValuesIn(PeerCases),
                         [](const testing::TestParamInfo<TPeerCase>& Info) { return Info.param.Name; });

} // namespace
} // namespace qm
