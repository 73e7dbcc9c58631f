// The Windows cryptography API (CNG, bcrypt.dll): its providers and the
// check of its results, for the signatures (SignatureCng.h). The SHA-256 of
// the files is our own (Sha256.h), included here for the callers that hash.
//
// Errors: a CNG call that fails raises qm::Exception naming the call and its
// NTSTATUS; nothing else is raised.
#pragma once

#include "release/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <string_view>

namespace qm {

// Raises qm::Exception when Status is not a success.
void CheckCng(NTSTATUS Status, const char* Call);

struct TCngAlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE Handle) const { BCryptCloseAlgorithmProvider(Handle, 0); }
};
using TCngAlgorithm = std::unique_ptr<void, TCngAlgorithmCloser>;

// Opens the provider of a CNG algorithm (BCRYPT_SHA256_ALGORITHM, ...).
TCngAlgorithm OpenCngAlgorithm(const wchar_t* Name);

} // namespace qm
