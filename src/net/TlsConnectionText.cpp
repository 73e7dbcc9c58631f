// The version and cipher suite of a TLS context, for the log.
#include "net/TlsConnectionText.h"

#include <cstdio>

namespace qm {
namespace {

std::string VersionText(DWORD Protocol)
{
    if (Protocol & SP_PROT_TLS1_3_CLIENT)
        return "TLS 1.3";
    if (Protocol & SP_PROT_TLS1_2_CLIENT)
        return "TLS 1.2";
    char text[40];
    std::snprintf(text, sizeof text, "protocol 0x%lX", static_cast<unsigned long>(Protocol));
    return text;
}

std::string CipherText(const SecPkgContext_ConnectionInfo& Info)
{
    char text[64];
    if (Info.aiCipher == CALG_AES_128 || Info.aiCipher == CALG_AES_256)
        std::snprintf(text, sizeof text, "AES %lu bits", static_cast<unsigned long>(Info.dwCipherStrength));
    else
        std::snprintf(text, sizeof text, "cipher 0x%X %lu bits", static_cast<unsigned>(Info.aiCipher),
                      static_cast<unsigned long>(Info.dwCipherStrength));
    return text;
}

} // namespace

std::string TlsConnectionText(const SecurityFunctionTableA& Sspi, PCtxtHandle Context,
                              const SecPkgContext_ConnectionInfo& Info)
{
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    std::string suite;
    // The attribute holds no text to convert: the A and W calls fill it alike.
    if (Sspi.QueryContextAttributesA(Context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK)
        for (const WCHAR* c = cipher.szCipherSuite; c < cipher.szCipherSuite + SZ_ALG_MAX_SIZE && *c != 0; ++c)
            suite += *c < 0x80 ? static_cast<char>(*c) : '?'; // suite names are ASCII
    if (suite.empty())
        return VersionText(Info.dwProtocol) + ", " + CipherText(Info);
    // The number as well where the system gives it: some name a part they
    // do not know "<unknown>" (Wine names the hash so, and gives no number).
    char number[16] = {};
    if (cipher.dwCipherSuite != 0)
        std::snprintf(number, sizeof number, " (0x%04lX)", static_cast<unsigned long>(cipher.dwCipherSuite));
    return VersionText(Info.dwProtocol) + ", " + suite + number;
}

} // namespace qm
