// Owners of the security channel's handles: a credential, a security
// context, and the certificate and chain contexts of the server check. Each
// frees its handle exactly once; none can be copied or moved.
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

// The handle filled through out() is released once, by the function given to
// set(): the one of the security function table the handle came from.
template <class H>
class TSspiOwner {
public:
    using TFree = SECURITY_STATUS(SEC_ENTRY*)(H*);

    TSspiOwner() = default;
    ~TSspiOwner() { reset(); }
    TSspiOwner(const TSspiOwner&) = delete;
    TSspiOwner& operator=(const TSspiOwner&) = delete;

    H* get() { return free_ ? &handle_ : nullptr; }
    // For the call that fills the handle; call set() when it succeeded.
    H* out() { return &handle_; }
    void set(TFree Free) { free_ = Free; }
    bool valid() const { return free_ != nullptr; }
    void reset()
    {
        if (free_)
            free_(&handle_);
        free_ = nullptr;
    }

private:
    H handle_{};
    TFree free_ = nullptr;
};

using TCredHandle = TSspiOwner<CredHandle>;
using TCtxtHandle = TSspiOwner<CtxtHandle>;

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

} // namespace qm
