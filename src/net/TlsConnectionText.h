// The negotiated version and cipher suite of an established TLS context, as
// one line for the download log: "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384".
#pragma once

#include "net/SspiHandles.h"

#include <string>

namespace qm {

// Info is what SECPKG_ATTR_CONNECTION_INFO gave for Context. The suite's
// name comes from SECPKG_ATTR_CIPHER_INFO, asked through Sspi (the session's
// own table); a system that does not know that attribute gets the cipher and
// its strength from Info. Never fails.
std::string TlsConnectionText(const SecurityFunctionTableA& Sspi, PCtxtHandle Context,
                              const SecPkgContext_ConnectionInfo& Info);

} // namespace qm
