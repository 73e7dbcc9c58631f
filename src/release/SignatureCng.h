// ECDSA P-256 over SHA-256 through the Windows cryptography API (CNG): the
// loader verifies list.txt's signature; qmpack.exe makes keys and signs.
// Keys and signatures are in the raw forms of ReleaseFiles.h.
//
// Errors: a CNG call that fails (a key CNG refuses, a missing provider)
// raises qm::Exception; a signature that does not match is no error.
#pragma once

#include "release/ReleaseFiles.h"

#include <string_view>

namespace qm {

// Whether Signature is a valid signature of the SHA-256 of Data under Key.
bool VerifyReleaseSignature(const TPublicKey& Key, std::string_view Data, const TRawSignature& Signature);

// A new key pair from the system's random generator.
TPrivateKey GenerateReleaseKey();

// The signature of the SHA-256 of Data under Key.
TRawSignature SignRelease(const TPrivateKey& Key, std::string_view Data);

} // namespace qm
