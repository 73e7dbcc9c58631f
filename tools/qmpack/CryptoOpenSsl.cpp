// qmpack's cryptography in the native build: OpenSSL's libcrypto (3.x).
// OpenSSL writes ECDSA signatures in ASN.1 DER; its ECDSA_SIG functions turn
// them into the raw r || s of the signature file and back.
#include "Crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <vector>

namespace qm::pack {
namespace {

template <auto Free>
struct TFreer {
    template <class T>
    void operator()(T* P) const { Free(P); }
};
using TPkey = std::unique_ptr<EVP_PKEY, TFreer<EVP_PKEY_free>>;
using TMdContext = std::unique_ptr<EVP_MD_CTX, TFreer<EVP_MD_CTX_free>>;
using TPkeyContext = std::unique_ptr<EVP_PKEY_CTX, TFreer<EVP_PKEY_CTX_free>>;
using TBignum = std::unique_ptr<BIGNUM, TFreer<BN_clear_free>>;
using TEcdsaSig = std::unique_ptr<ECDSA_SIG, TFreer<ECDSA_SIG_free>>;
using TParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, TFreer<OSSL_PARAM_BLD_free>>;
using TParams = std::unique_ptr<OSSL_PARAM, TFreer<OSSL_PARAM_free>>;

struct TDerFree {
    void operator()(unsigned char* P) const { OPENSSL_free(P); }
};

constexpr std::size_t Half = 32;

void Check(bool Ok, const char* What)
{
    if (!Ok)
        throw Exception(std::string("OpenSSL: ") + What + " failed");
}

// A P-256 key from its public point (X || Y) and, for a key pair, d.
TPkey MakeKey(std::span<const std::uint8_t> XY, const std::uint8_t* D)
{
    std::uint8_t point[1 + 2 * Half] = {0x04}; // uncompressed point
    std::copy(XY.begin(), XY.end(), point + 1);
    const TParamBuilder builder(OSSL_PARAM_BLD_new());
    Check(builder != nullptr, "OSSL_PARAM_BLD_new");
    Check(OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) == 1 &&
              OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) == 1,
          "building the key parameters");
    TBignum d;
    if (D) {
        d.reset(BN_bin2bn(D, Half, nullptr));
        Check(d && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()) == 1,
              "building the private key");
    }
    const TParams params(OSSL_PARAM_BLD_to_param(builder.get()));
    const TPkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    Check(params && context && EVP_PKEY_fromdata_init(context.get()) == 1 &&
              EVP_PKEY_fromdata(context.get(), &key, D ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) == 1,
          "importing the key");
    TPkey result(key);
    const TPkeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    // The public point lies on the curve and, for a pair, belongs to d.
    Check(check && (D ? EVP_PKEY_pairwise_check(check.get()) : EVP_PKEY_public_check(check.get())) == 1,
          "checking the key");
    return result;
}

void CopyBignum(const BIGNUM* Number, std::uint8_t* To)
{
    Check(BN_bn2binpad(Number, To, Half) == static_cast<int>(Half), "writing a number");
}

} // namespace

TSha256Digest FileSha256(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    if (!in)
        throw Exception("cannot read " + Path.string());
    const TMdContext context(EVP_MD_CTX_new());
    Check(context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1, "EVP_DigestInit_ex");
    std::vector<char> buffer(65536);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        Check(EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(in.gcount())) == 1,
              "EVP_DigestUpdate");
    if (in.bad())
        throw Exception("cannot read " + Path.string());
    TSha256Digest digest{};
    unsigned size = 0;
    Check(EVP_DigestFinal_ex(context.get(), digest.data(), &size) == 1 && size == digest.size(), "EVP_DigestFinal_ex");
    return digest;
}

TPrivateKey GenerateKey()
{
    const TPkey key(EVP_EC_gen("prime256v1"));
    Check(key != nullptr, "EVP_EC_gen");
    std::uint8_t point[1 + 2 * Half];
    std::size_t size = 0;
    Check(EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size) == 1 &&
              size == sizeof point && point[0] == 0x04,
          "reading the public point");
    BIGNUM* d = nullptr;
    Check(EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1, "reading the private key");
    const TBignum owned(d);
    TPrivateKey result{};
    std::copy(point + 1, point + sizeof point, result.begin());
    CopyBignum(d, result.data() + 2 * Half);
    return result;
}

TRawSignature SignData(const TPrivateKey& Key, std::string_view Data)
{
    const TPkey key = MakeKey(std::span(Key).first(2 * Half), Key.data() + 2 * Half);
    const TMdContext context(EVP_MD_CTX_new());
    std::size_t size = 0;
    Check(context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
              EVP_DigestSign(context.get(), nullptr, &size,
                             reinterpret_cast<const unsigned char*>(Data.data()), Data.size()) == 1,
          "EVP_DigestSignInit");
    std::vector<unsigned char> der(size);
    Check(EVP_DigestSign(context.get(), der.data(), &size, reinterpret_cast<const unsigned char*>(Data.data()),
                         Data.size()) == 1,
          "EVP_DigestSign");
    const unsigned char* in = der.data();
    const TEcdsaSig signature(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
    Check(signature != nullptr, "d2i_ECDSA_SIG");
    TRawSignature result{};
    CopyBignum(ECDSA_SIG_get0_r(signature.get()), result.data());
    CopyBignum(ECDSA_SIG_get0_s(signature.get()), result.data() + Half);
    return result;
}

bool VerifyData(const TPublicKey& Key, std::string_view Data, const TRawSignature& Signature)
{
    const TPkey key = MakeKey(Key, nullptr);
    TEcdsaSig signature(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(Signature.data(), Half, nullptr);
    BIGNUM* s = BN_bin2bn(Signature.data() + Half, Half, nullptr);
    if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        Check(false, "ECDSA_SIG_set0");
    }
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(signature.get(), &der);
    Check(size > 0, "i2d_ECDSA_SIG");
    const std::unique_ptr<unsigned char, TDerFree> owned(der);
    const TMdContext context(EVP_MD_CTX_new());
    Check(context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1,
          "EVP_DigestVerifyInit");
    return EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(size),
                            reinterpret_cast<const unsigned char*>(Data.data()), Data.size()) == 1;
}

} // namespace qm::pack
