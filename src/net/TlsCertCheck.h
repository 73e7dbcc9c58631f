// The program's own check of a TLS server's certificate. The security
// channel is asked not to judge certificates (manual validation), so this is
// the only check they get: the chain is built from the system's stores, its
// own error status is read (an unknown issuer can pass the policy check
// alone), then the SSL policy is verified for the server name. Revocation is
// not checked (see docs/publishing.md).
//
// Building the chain may fetch missing issuers over the network. The check
// runs on a thread of its own and the caller waits at most
// CertificateCheckLimit for it (each retrieval is bounded as well): a
// hostile or broken issuer URL holds the window for that long at most, and
// a Cancel pressed meanwhile acts right after. A check given up on finishes
// on its thread and frees what it holds.
#pragma once

#include "net/SspiHandles.h"

#include <chrono>
#include <functional>
#include <string>

namespace qm {

// Empty when Cert is acceptable for ServerName; otherwise a sentence that
// names the problem (another name, expired, self-signed, an untrusted
// authority, ...). Nothing is raised.
std::string CheckServerCertificate(PCCERT_CONTEXT Cert, const std::string& ServerName);

constexpr std::chrono::milliseconds CertificateCheckLimit{15000};

// Check's verdict when it comes within Limit, Late otherwise (Check then
// goes on alone on its thread). Without a thread to be had, Check runs here.
std::string VerdictWithin(std::function<std::string()> Check, std::chrono::milliseconds Limit, const std::string& Late);

} // namespace qm
