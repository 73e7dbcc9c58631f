// Acquiring the process's TLS client credential.
#include "net/TlsCredential.h"

namespace qm {
namespace {

constexpr DWORD olderProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
// Strong suites only; the TLS 1.2 AEAD suites stay. No certificate of the
// user's is ever sent, and the channel leaves the server's to this program.
constexpr DWORD credFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

// The newer credential form first (the one that knows TLS 1.3, with the
// older versions switched off); systems that do not know it get the older
// form with TLS 1.2 alone.
bool Acquire(const SecurityFunctionTableA& Sspi, DWORD Build, TCredHandle& Cred)
{
    TLS_PARAMETERS params{};
    params.grbitDisabledProtocols = olderProtocols | (Build < FirstTls13Build ? SP_PROT_TLS1_3_CLIENT : 0);
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = credFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &params;
    SCHANNEL_CRED legacy{};
    legacy.dwVersion = SCHANNEL_CRED_VERSION;
    legacy.dwFlags = credFlags;
    legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    for (void* data : {static_cast<void*>(&modern), static_cast<void*>(&legacy)}) {
        TimeStamp expiry;
        if (Sspi.AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                           data, nullptr, nullptr, Cred.out(), &expiry) == SEC_E_OK) {
            Cred.set(Sspi.FreeCredentialsHandle);
            return true;
        }
    }
    return false;
}

} // namespace

CredHandle* TTlsCredential::Get(const SecurityFunctionTableA& Sspi)
{
    if (!cred_.valid())
        Acquire(Sspi, build_, cred_);
    return cred_.get();
}

DWORD SystemBuildNumber()
{
    using TGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto getVersion =
        ntdll ? reinterpret_cast<TGetVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion"))) : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return getVersion && getVersion(&info) == 0 ? info.dwBuildNumber : 0;
}

} // namespace qm
