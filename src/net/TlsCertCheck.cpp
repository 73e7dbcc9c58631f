// Building and judging the server certificate's chain.
// The chain parameters with their time limit are declared only with this.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "net/TlsCertCheck.h"

#include <cstdio>
#include <future>
#include <iterator>
#include <memory>
#include <system_error>
#include <thread>

namespace qm {
namespace {

std::string Refused(const std::string& What)
{
    return "certificate refused: " + What;
}

std::string Hex(DWORD Code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(Code));
    return text;
}

bool SelfIssued(PCCERT_CONTEXT Cert)
{
    return CertCompareCertificateName(X509_ASN_ENCODING, &Cert->pCertInfo->Subject, &Cert->pCertInfo->Issuer) != FALSE;
}

// The chain's own verdict, most telling problem first.
std::string ChainProblem(PCCERT_CONTEXT Cert, DWORD Status)
{
    if (Status & CERT_TRUST_IS_NOT_TIME_VALID)
        return Refused("the server's certificate has expired or is not yet valid");
    if (Status & CERT_TRUST_IS_REVOKED)
        return Refused("the server's certificate has been revoked");
    if ((Status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) && SelfIssued(Cert))
        return Refused("the server's certificate is self-signed");
    if (Status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return Refused("the server's certificate is issued by an untrusted or unknown authority");
    if (Status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return Refused("the server's certificate is not meant for a server");
    if (Status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return Refused("a signature in the server's certificate chain is invalid");
    // No revocation check is asked for, so its "unknown" bits mean nothing.
    constexpr DWORD ignored = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    if (Status & ~ignored)
        return Refused("the server's certificate chain is not valid (trust status " + Hex(Status) + ")");
    return {};
}

std::string PolicyProblem(DWORD Error, const std::string& ServerName)
{
    switch (Error) {
    case 0:
        return {};
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return Refused("the server's certificate is for another name than " + ServerName);
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return Refused("the server's certificate has expired or is not yet valid");
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return Refused("the server's certificate is issued by an untrusted or unknown authority");
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return Refused("the server's certificate is not meant for a server");
    default:
        return Refused("the server's certificate fails the server policy (" + Hex(Error) + ")");
    }
}

std::wstring Widen(const std::string& Text)
{
    std::wstring wide(Text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, Text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return wide;
}

} // namespace

std::string CheckServerCertificate(PCCERT_CONTEXT Cert, const std::string& ServerName)
{
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(std::size(usages));
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // Each retrieval of a missing issuer is bounded; the server's certificate
    // is kept for its next connection.
    para.dwUrlRetrievalTimeout = IssuerRetrievalLimitMs;
    constexpr DWORD flags = CERT_CHAIN_CACHE_END_CERT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
    TCertChain chain;
    // The certificates the server sent (its store) help build the chain.
    if (!CertGetCertificateChain(nullptr, Cert, nullptr, Cert->hCertStore, &para, flags, nullptr, chain.out()) ||
        !chain.get())
        return Refused("no chain could be built for the server's certificate (error " + Hex(GetLastError()) + ")");
    if (std::string problem = ChainProblem(Cert, chain.get()->TrustStatus.dwErrorStatus); !problem.empty())
        return problem;

    std::wstring name = Widen(ServerName);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status))
        return Refused("the server policy could not be checked (error " + Hex(GetLastError()) + ")");
    return PolicyProblem(status.dwError, ServerName);
}

std::future<std::string> CheckOffThread(std::function<std::string()> Check, std::function<void()> Done)
{
    auto job = std::make_shared<std::pair<std::function<std::string()>, std::function<void()>>>(std::move(Check),
                                                                                              std::move(Done));
    auto verdict = std::make_shared<std::promise<std::string>>();
    std::future<std::string> result = verdict->get_future();
    const auto run = [job, verdict] {
        try {
            verdict->set_value(job->first());
        } catch (...) {
            verdict->set_value(Refused("the server's certificate could not be checked"));
        }
        if (job->second)
            job->second();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();
    }
    return result;
}

std::future<std::string> StartServerCertificateCheck(PCCERT_CONTEXT Cert, const std::string& ServerName,
                                                     std::function<void()> Done)
{
    // The check's own reference: the session frees its copy at once.
    PCCERT_CONTEXT own = CertDuplicateCertificateContext(Cert);
    return CheckOffThread(
        [own, ServerName] {
            const TCertContext hold(own);
            return CheckServerCertificate(own, ServerName);
        },
        std::move(Done));
}

} // namespace qm
