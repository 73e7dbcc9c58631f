// The program's own check of a TLS server's certificate. The security
// channel is asked not to judge certificates (manual validation), so this is
// the only check they get: the chain is built from the system's stores, its
// own error status is read (an unknown issuer can pass the policy check
// alone), then the SSL policy is verified for the server name. Revocation is
// not checked (see docs/publishing.md).
//
// Building the chain may fetch missing issuers over the network (each
// retrieval bounded in time). So that a hostile or broken issuer URL cannot
// hold the window, the check runs on a thread of its own and reports when
// it is done; a check given up on (Cancel, a closed connection) finishes
// alone on its thread and frees what it holds.
#pragma once

#include "net/SspiHandles.h"

#include <functional>
#include <future>
#include <string>

namespace qm {

// Empty when Cert is acceptable for ServerName; otherwise a sentence that
// names the problem (another name, expired, self-signed, an untrusted
// authority, ...). Nothing is raised.
std::string CheckServerCertificate(PCCERT_CONTEXT Cert, const std::string& ServerName);

// Longest wait for one retrieval of a missing issuer.
constexpr DWORD IssuerRetrievalLimitMs = 15000;

// CheckServerCertificate on a thread of its own, with its own reference to
// Cert; Done is called on that thread when the verdict is in.
std::future<std::string> StartServerCertificateCheck(PCCERT_CONTEXT Cert, const std::string& ServerName,
                                                     std::function<void()> Done);

// Check on a thread of its own (here, when no thread can be had), then Done
// there. Dropping the future does not wait for the thread.
std::future<std::string> CheckOffThread(std::function<std::string()> Check, std::function<void()> Done);

} // namespace qm
