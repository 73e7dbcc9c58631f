// The cryptography qmpack needs, from a well-kept library: OpenSSL's
// libcrypto in the native build (CryptoOpenSsl.cpp), the Windows
// cryptography API in qmpack.exe (CryptoCng.cpp). Keys and signatures are in
// the raw forms of release/ReleaseFiles.h, so both builds read and write the
// same files.
//
// Errors: a failure of the library (unreadable file, a private key whose
// halves do not belong together) raises qm::Exception.
#pragma once

#include "release/ListHash.h"
#include "release/ReleaseFiles.h"

#include <filesystem>
#include <string_view>

namespace qm::pack {

// The SHA-256 of the file at Path, read in pieces.
TSha256Digest FileSha256(const std::filesystem::path& Path);

// A new ECDSA P-256 key pair from the system's random generator.
TPrivateKey GenerateKey();

// The ECDSA signature (r || s) of the SHA-256 of Data under Key.
TRawSignature SignData(const TPrivateKey& Key, std::string_view Data);

// Whether Signature is a valid signature of the SHA-256 of Data under Key.
bool VerifyData(const TPublicKey& Key, std::string_view Data, const TRawSignature& Signature);

} // namespace qm::pack
