// SHA-256 through the Windows cryptography API (CNG, bcrypt.dll), fed
// piece by piece, and a stream that hashes what is written through it.
//
// Errors: a CNG call that fails raises qm::Exception naming the call and its
// NTSTATUS; nothing else is raised.
#pragma once

#include "release/ListHash.h"
#include "base/Stream.h"

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

// One digest: Update any number of times, then Finish once.
class TSha256 {
public:
    TSha256();
    void Update(const void* Data, std::size_t Len);
    TSha256Digest Finish();

    static TSha256Digest Of(std::string_view Bytes);

private:
    struct THashCloser {
        void operator()(BCRYPT_HASH_HANDLE Handle) const { BCryptDestroyHash(Handle); }
    };
    TCngAlgorithm algorithm_;
    std::unique_ptr<void, THashCloser> hash_;
};

// Passes writes on to Inner and hashes the bytes Inner took. Reading and
// seeking are refused (the digest would not be that of the file); Size and
// Position are Inner's. Inner must outlive this stream.
class THashingStream final : public TStream {
public:
    explicit THashingStream(TStream& Inner) : inner_(Inner) {}

    std::int32_t Read(void*, std::int32_t) override { return -1; }
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Size() const override { return inner_.Size(); }
    std::int64_t Position() const override { return inner_.Position(); }
    void Seek(std::int64_t) override { throw EStreamError("A hashed stream cannot seek"); }

    // The digest of every byte written so far; call once.
    TSha256Digest Finish() { return sha_.Finish(); }

private:
    TStream& inner_;
    TSha256 sha_;
};

} // namespace qm
