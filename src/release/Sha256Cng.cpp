#include "release/Sha256Cng.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace qm {

void CheckCng(NTSTATUS Status, const char* Call)
{
    if (BCRYPT_SUCCESS(Status))
        return;
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(Status));
    throw Exception(std::string(Call) + " failed (NTSTATUS 0x" + code + ")");
}

TCngAlgorithm OpenCngAlgorithm(const wchar_t* Name)
{
    BCRYPT_ALG_HANDLE handle = nullptr;
    CheckCng(BCryptOpenAlgorithmProvider(&handle, Name, nullptr, 0), "BCryptOpenAlgorithmProvider");
    return TCngAlgorithm(handle);
}

TSha256::TSha256() : algorithm_(OpenCngAlgorithm(BCRYPT_SHA256_ALGORITHM))
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    CheckCng(BCryptCreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    hash_.reset(hash);
}

void TSha256::Update(const void* Data, std::size_t Len)
{
    // BCryptHashData takes its input as non-const and at most 4 GB at once.
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(Data));
    while (Len > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(Len, std::numeric_limits<ULONG>::max()));
        CheckCng(BCryptHashData(hash_.get(), bytes, piece, 0), "BCryptHashData");
        bytes += piece;
        Len -= piece;
    }
}

TSha256Digest TSha256::Finish()
{
    TSha256Digest digest{};
    CheckCng(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0), "BCryptFinishHash");
    return digest;
}

TSha256Digest TSha256::Of(std::string_view Bytes)
{
    TSha256 sha;
    sha.Update(Bytes.data(), Bytes.size());
    return sha.Finish();
}

std::int32_t THashingStream::Write(const void* Buffer, std::int32_t Count)
{
    const std::int32_t written = inner_.Write(Buffer, Count);
    if (written > 0)
        sha_.Update(Buffer, static_cast<std::size_t>(written));
    return written;
}

} // namespace qm
