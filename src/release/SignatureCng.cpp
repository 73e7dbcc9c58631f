#include "release/SignatureCng.h"

#include "release/Sha256Cng.h"

#include <algorithm>
#include <span>
#include <vector>

namespace qm {
namespace {

struct TCngKeyCloser {
    void operator()(BCRYPT_KEY_HANDLE Handle) const { BCryptDestroyKey(Handle); }
};
using TCngKey = std::unique_ptr<void, TCngKeyCloser>;

constexpr ULONG CoordinateSize = 32;

// A BCRYPT_ECCKEY_BLOB header followed by the key's numbers.
std::vector<UCHAR> KeyBlob(ULONG Magic, std::span<const std::uint8_t> Numbers)
{
    const BCRYPT_ECCKEY_BLOB header{Magic, CoordinateSize};
    std::vector<UCHAR> blob(sizeof header + Numbers.size());
    std::copy_n(reinterpret_cast<const UCHAR*>(&header), sizeof header, blob.begin());
    std::copy(Numbers.begin(), Numbers.end(), blob.begin() + sizeof header);
    return blob;
}

TCngKey ImportKey(BCRYPT_ALG_HANDLE Algorithm, const wchar_t* BlobType, std::vector<UCHAR> Blob)
{
    BCRYPT_KEY_HANDLE key = nullptr;
    CheckCng(BCryptImportKeyPair(Algorithm, nullptr, BlobType, &key, Blob.data(), static_cast<ULONG>(Blob.size()), 0),
             "BCryptImportKeyPair");
    return TCngKey(key);
}

} // namespace

bool VerifyReleaseSignature(const TPublicKey& Key, std::string_view Data, const TRawSignature& Signature)
{
    const TCngAlgorithm algorithm = OpenCngAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    const TCngKey key =
        ImportKey(algorithm.get(), BCRYPT_ECCPUBLIC_BLOB, KeyBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, Key));
    TSha256Digest digest = TSha256::Of(Data);
    TRawSignature signature = Signature;
    const NTSTATUS status = BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                                  signature.data(), static_cast<ULONG>(signature.size()), 0);
    if (status == static_cast<NTSTATUS>(0xC000A000L)) // STATUS_INVALID_SIGNATURE
        return false;
    CheckCng(status, "BCryptVerifySignature");
    return true;
}

TPrivateKey GenerateReleaseKey()
{
    const TCngAlgorithm algorithm = OpenCngAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE handle = nullptr;
    CheckCng(BCryptGenerateKeyPair(algorithm.get(), &handle, 256, 0), "BCryptGenerateKeyPair");
    const TCngKey key(handle);
    CheckCng(BCryptFinalizeKeyPair(key.get(), 0), "BCryptFinalizeKeyPair");
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + TPrivateKey{}.size());
    ULONG size = 0;
    CheckCng(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), static_cast<ULONG>(blob.size()),
                             &size, 0),
             "BCryptExportKey");
    if (size != blob.size())
        throw Exception("BCryptExportKey gave a key blob of an unexpected size");
    TPrivateKey result{};
    std::copy(blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end(), result.begin());
    return result;
}

TRawSignature SignRelease(const TPrivateKey& Key, std::string_view Data)
{
    const TCngAlgorithm algorithm = OpenCngAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    const TCngKey key =
        ImportKey(algorithm.get(), BCRYPT_ECCPRIVATE_BLOB, KeyBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, Key));
    TSha256Digest digest = TSha256::Of(Data);
    TRawSignature signature{};
    ULONG size = 0;
    CheckCng(BCryptSignHash(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), signature.data(),
                            static_cast<ULONG>(signature.size()), &size, 0),
             "BCryptSignHash");
    if (size != signature.size())
        throw Exception("BCryptSignHash gave a signature of an unexpected size");
    return signature;
}

} // namespace qm
