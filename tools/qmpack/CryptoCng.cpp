// qmpack.exe's cryptography: the loader's own CNG units.
#include "Crypto.h"

#include "release/Sha256Cng.h"
#include "release/SignatureCng.h"

#include <fstream>

namespace qm::pack {

TSha256Digest FileSha256(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    if (!in)
        throw Exception("cannot read " + Path.string());
    TSha256 sha;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        sha.Update(buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw Exception("cannot read " + Path.string());
    return sha.Finish();
}

TPrivateKey GenerateKey()
{
    return GenerateReleaseKey();
}

TRawSignature SignData(const TPrivateKey& Key, std::string_view Data)
{
    return SignRelease(Key, Data);
}

bool VerifyData(const TPublicKey& Key, std::string_view Data, const TRawSignature& Signature)
{
    return VerifyReleaseSignature(Key, Data, Signature);
}

} // namespace qm::pack
