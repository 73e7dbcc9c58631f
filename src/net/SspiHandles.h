// Owners of the security channel's handles: a credential, a security
// context, and the certificate and chain contexts of the server check. Each
// frees its handle exactly once; moves leave the source empty.
#pragma once

#define SECURITY_WIN32
// The newer credential form (SCH_CREDENTIALS) is declared only with this.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <utility>

namespace qm {

// Free(handle) runs once for a handle that was set.
template <class H, void (*Free)(H&)>
class TSspiOwner {
public:
    TSspiOwner() = default;
    ~TSspiOwner() { reset(); }
    TSspiOwner(const TSspiOwner&) = delete;
    TSspiOwner& operator=(const TSspiOwner&) = delete;

    H* get() { return set_ ? &handle_ : nullptr; }
    // For the call that fills the handle; call set() when it succeeded.
    H* out() { return &handle_; }
    void set() { set_ = true; }
    bool valid() const { return set_; }
    void reset()
    {
        if (set_)
            Free(handle_);
        set_ = false;
    }

private:
    H handle_{};
    bool set_ = false;
};

inline void FreeCred(CredHandle& H) { FreeCredentialsHandle(&H); }
inline void FreeCtxt(CtxtHandle& H) { DeleteSecurityContext(&H); }

using TCredHandle = TSspiOwner<CredHandle, FreeCred>;
using TCtxtHandle = TSspiOwner<CtxtHandle, FreeCtxt>;

// A pointer that a security call hands over together with its release.
template <class P, auto Release>
class TReleased {
public:
    explicit TReleased(P Ptr = nullptr) : ptr_(Ptr) {}
    ~TReleased()
    {
        if (ptr_)
            Release(ptr_);
    }
    TReleased(const TReleased&) = delete;
    TReleased& operator=(const TReleased&) = delete;
    P get() const { return ptr_; }
    P* out() { return &ptr_; }

private:
    P ptr_;
};

using TCertContext = TReleased<PCCERT_CONTEXT, CertFreeCertificateContext>;
using TCertChain = TReleased<PCCERT_CHAIN_CONTEXT, CertFreeCertificateChain>;
using TContextBuffer = TReleased<void*, FreeContextBuffer>;

} // namespace qm
