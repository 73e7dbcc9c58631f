// TTlsCredential: the client credential that every TLS connection of the
// process is made with.
//
// The security channel resumes a session only for a connection made with the
// same credential handle as the one that first made it (and the same server
// name, process and logon session). One credential for the whole process
// lets every file of a set after the first go in one round trip. Nothing in
// it depends on the proxy or on the server (no client certificate, the same
// versions for every connection; a proxy tunnel carries the same TLS), so one
// serves every connection.
//
// Owner and lifetime: SystemTls() hands out the one process-wide instance, a
// function-local static; it acquires its handle at the first connection and
// frees it when the process ends (static destruction). A test makes its own
// instance for a scripted security channel. Use it from one thread only (the
// sessions run on the window's thread).
//
// What is asked for: TLS 1.2 and, from Windows build 20348 on, TLS 1.3 (the
// TLS 1.3 that older Windows 10 builds can be switched to is an unfinished
// one); the strong suites only (SCH_USE_STRONG_CRYPTO); no client
// certificate; certificates left to the program's own check.
#pragma once

#include "net/SspiHandles.h"

namespace qm {

// The first build whose TLS 1.3 is allowed.
constexpr DWORD FirstTls13Build = 20348;

class TTlsCredential {
public:
    // WindowsBuild: the system's build number (SystemBuildNumber()).
    explicit TTlsCredential(DWORD WindowsBuild) : build_(WindowsBuild) {}

    // The handle, acquired through Sspi on the first call (again after a
    // failure); nullptr when the security channel gives none.
    CredHandle* Get(const SecurityFunctionTableA& Sspi);

private:
    DWORD build_;
    TCredHandle cred_;
};

// The build number of the running system as the system itself reports it
// (RtlGetVersion; GetVersionEx answers what the manifest allows). 0 when
// unknown, which keeps TLS 1.3 off.
DWORD SystemBuildNumber();

} // namespace qm
