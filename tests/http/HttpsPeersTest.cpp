// THttpCli::Get over TLS against real peers on loopback, started by
// run_https_peers.sh: nginx with one server per certificate, a plain server
// relocating to https, a TLS server writing in 1-50 byte pieces, and a proxy
// requiring Basic authorization. A URL's "${NAME}" stands for the value of
// QM_TLS_NAME that the wrapper passes.
#include "base/Stream.h"
#include "http/HttpProt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qm {
namespace {

std::string Env(const std::string& Name)
{
    const char* v = std::getenv(Name.c_str());
    return v != nullptr ? v : "";
}

std::string Expand(std::string Text)
{
    for (std::size_t at; (at = Text.find("${")) != std::string::npos;) {
        const std::size_t end = Text.find('}', at);
        Text.replace(at, end - at + 1, Env("QM_TLS_" + Text.substr(at + 2, end - at - 2)));
    }
    return Text;
}

struct THttpsCase {
    const char* Name;
    const char* Url;
    bool ViaProxy;    // through the authenticating proxy, with its credentials
    const char* File;   // what must arrive whole ("": nothing); nullptr: the request must fail
    const char* Reason; // a part of the failure's reason
    THttpRequest Kind = rqGet;
    int StallSeconds = 20; // a hang fails soon
};

const THttpsCase Cases[] = {
    {"Large", "https://localhost:${GOOD}/large.bin", false, "large.bin", nullptr},
    {"HeadHasNoBody", "https://localhost:${GOOD}/small.bin", false, "", nullptr, rqHead},
    {"WrongName", "https://localhost:${WRONG}/small.bin", false, nullptr, "for another name than localhost"},
    {"Expired", "https://localhost:${EXPIRED}/small.bin", false, nullptr, "expired"},
    {"SelfSigned", "https://localhost:${SELFSIGNED}/small.bin", false, nullptr, "self-signed"},
    {"UntrustedAuthority", "https://localhost:${UNTRUSTED}/small.bin", false, nullptr, "untrusted or unknown authority"},
    {"RecordsInTinyPieces", "https://localhost:${SPLIT}/split", false, "split.bin", nullptr},
    {"CutShort", "https://localhost:${SPLIT}/short", false, nullptr, "after 1000 of 98304 bytes"},
    {"TwoWayShutdown", "https://localhost:${SPLIT}/twoway", false, "split.bin", nullptr},
    {"TwoWayShutdownNoLength", "https://localhost:${SPLIT}/twoway-nolength", false, "split.bin", nullptr},
    {"CutWithoutLength", "https://localhost:${SPLIT}/cut-nolength", false, nullptr, "was not confirmed"},
    {"EmptyRecordInBody", "https://localhost:${SPLIT}/empty-record", false, "split.bin", nullptr},
    {"RecordTrickledPastStallTime", "https://localhost:${SPLIT}/trickle", false, "trickle.bin", nullptr, rqGet, 1},
    {"TrickleIsAStall", "https://localhost:${SPLIT}/trickle-slow", false, nullptr, "fewer than 4096 bytes", rqGet, 1},
    {"RelativeLocationWithScheme", "https://localhost:${SPLIT}/relative", false, "split.bin", nullptr},
    {"HttpToHttps", "http://localhost:${PLAIN}/tohttps", false, "small.bin", nullptr},
    {"HttpsToHttps", "https://localhost:${GOOD}/moved", false, "small.bin", nullptr},
    {"HttpsToHttpRefused", "https://localhost:${GOOD}/tohttp", false, nullptr, "downgrade"},
    {"ProxyTunnel", "https://localhost:${GOOD}/small.bin", true, "small.bin", nullptr},
    {"ProxyTunnelRelocated", "https://localhost:${GOOD}/moved", true, "small.bin", nullptr},
    {"ProxyTunnelToWrongName", "https://localhost:${WRONG}/small.bin", true, nullptr, "another name"},
};

std::vector<std::uint8_t> ServedFile(const std::string& Name)
{
    std::ifstream in(Env("QM_TLS_WWW") + "\\" + Name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class HttpsPeers : public testing::TestWithParam<THttpsCase> {};

TEST_P(HttpsPeers, Request)
{
    const THttpsCase& c = GetParam();
    ASSERT_FALSE(Env("QM_TLS_GOOD").empty()) << "run this through run_https_peers.sh, which starts the peers";
    THttpCli http;
    TMemoryStream body;
    http.URL = Expand(c.Url);
    http.RcvdStream = &body;
    http.StallTimeout = std::chrono::seconds(c.StallSeconds);
    if (c.ViaProxy) {
        const std::string auth = Env("QM_TLS_AUTH");
        http.Proxy = Env("QM_TLS_PROXY");
        http.Username = auth.substr(0, auth.find(':'));
        http.Password = auth.substr(auth.find(':') + 1);
    }
    if (c.File != nullptr) {
        const std::vector<std::uint8_t> want = *c.File ? ServedFile(c.File) : std::vector<std::uint8_t>();
        ASSERT_EQ(want.empty(), *c.File == '\0') << "cannot read " << c.File;
        ASSERT_NO_THROW(http.ExecuteRequest(c.Kind)) << http.StatusCode() << " " << http.ReasonPhrase();
        EXPECT_EQ(http.StatusCode(), 200);
        EXPECT_TRUE(body.Bytes() == want) << "received " << body.Bytes().size() << " bytes, expected " << want.size();
        return;
    }
    try {
        http.ExecuteRequest(c.Kind);
        ADD_FAILURE() << "Get returned with status " << http.StatusCode() << " " << http.ReasonPhrase();
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode, 404);
        EXPECT_NE(e.Message.find(c.Reason), std::string::npos) << e.Message;
        EXPECT_EQ(http.State(), hsReady);
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, HttpsPeers, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<THttpsCase>& Info) { return Info.param.Name; });

} // namespace
} // namespace qm
