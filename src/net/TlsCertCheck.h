// The program's own check of a TLS server's certificate. The security
// channel is asked not to judge certificates (manual validation), so this is
// the only check they get: the chain is built from the system's stores, its
// own error status is read (an unknown issuer can pass the policy check
// alone), then the SSL policy is verified for the server name. Revocation is
// not checked (see docs/publishing.md).
#pragma once

#include "net/SspiHandles.h"

#include <string>

namespace qm {

// Empty when Cert is acceptable for ServerName; otherwise a sentence that
// names the problem (another name, expired, self-signed, an untrusted
// authority, ...). Nothing is raised.
std::string CheckServerCertificate(PCCERT_CONTEXT Cert, const std::string& ServerName);

} // namespace qm
