// TTlsSession on a security channel scripted to answer as Windows documents
// where Wine answers otherwise. Records: a kind letter, a length digit, the
// payload. The server's bytes arrive in two reads, cut at every point.
#include "net/TlsSession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace qm {
namespace {

// Awaited: a handshake message that DecryptMessage reported; Behind: the bytes behind it, its extra buffer.
struct { DWORD Protocol; int Judged; char Awaited; char* Behind; ULONG BehindSize; } script;

SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle, PCtxtHandle Ctxt, SEC_CHAR*, ULONG, ULONG, ULONG, PSecBufferDesc In,
                                     ULONG, PCtxtHandle New, PSecBufferDesc Out, PULONG, PTimeStamp)
{
    if (!Ctxt) { // the client's hello (no token needed here)
        *New = {1, 0};
        return SEC_I_CONTINUE_NEEDED;
    }
    // After SEC_I_RENEGOTIATE: called at once with DecryptMessage's extra
    // bytes or none; a TLS 1.3 ticket or key update (answered by the client's
    // own) completes at once, the records behind come back as extra. A TLS
    // 1.2 hello request would start a new handshake: not expected.
    SecBuffer& in = In->pBuffers[0];
    const char awaited = std::exchange(script.Awaited, 0);
    if (awaited && (in.pvBuffer != script.Behind || in.cbBuffer != script.BehindSize || awaited == 'R'))
        return SEC_E_INVALID_TOKEN;
    if (!awaited && in.cbBuffer < 2) // the server's flight "H0", cut
        return SEC_E_INCOMPLETE_MESSAGE;
    In->pBuffers[1] = {in.cbBuffer - (awaited ? 0 : 2), SECBUFFER_EXTRA, nullptr};
    if (awaited == 'K')
        Out->pBuffers[0] = {2, SECBUFFER_TOKEN, const_cast<char*>("ku")};
    return SEC_E_OK;
}

// A handshake message after the handshake (TLS 1.3 ticket or key update, TLS
// 1.2 hello request) is SEC_I_RENEGOTIATE, close_notify SEC_I_CONTEXT_EXPIRED,
// a record without data SEC_E_OK with an empty data buffer, a cut record
// SEC_E_INCOMPLETE_MESSAGE; the bytes behind the record are the extra buffer.
SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle, PSecBufferDesc Message, ULONG, PULONG)
{
    SecBuffer* b = Message->pBuffers;
    char* p = static_cast<char*>(b[0].pvBuffer);
    const ULONG size = b[0].cbBuffer, used = size < 2 ? 2 : 2 + static_cast<ULONG>(p[1] - '0');
    if (script.Awaited) // InitializeSecurityContext must come first
        return SEC_E_OUT_OF_SEQUENCE;
    if (size < used)
        return SEC_E_INCOMPLETE_MESSAGE;
    b[0] = {2, SECBUFFER_STREAM_HEADER, p};
    b[1] = {p[0] == 'D' ? used - 2 : 0, SECBUFFER_DATA, p + 2};
    b[3] = {size - used, static_cast<ULONG>(size > used ? SECBUFFER_EXTRA : SECBUFFER_EMPTY), p + used};
    script.Behind = p + used;
    script.BehindSize = size - used;
    script.Awaited = p[0] == 'D' || p[0] == 'C' ? 0 : p[0];
    return p[0] == 'D' ? SEC_E_OK : p[0] == 'C' ? SEC_I_CONTEXT_EXPIRED : SEC_I_RENEGOTIATE;
}

// The negotiated version, and record sizes.
SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle, ULONG Attribute, void* Buffer)
{
    if (Attribute == SECPKG_ATTR_CONNECTION_INFO)
        static_cast<SecPkgContext_ConnectionInfo*>(Buffer)->dwProtocol = script.Protocol;
    else if (Attribute == SECPKG_ATTR_STREAM_SIZES)
        *static_cast<SecPkgContext_StreamSizes*>(Buffer) = {2, 0, 9, 4, 16};
    else
        return SEC_E_UNSUPPORTED_FUNCTION; // an older system's answer to the cipher suite
    return SEC_E_OK;
}

TEST(ScriptedWindows, PostHandshakeMessagesAndEndsAtEveryCut)
{
    SecurityFunctionTableA sspi{};
    sspi.AcquireCredentialsHandleA = AcquireCredentialsHandleA; // the real ones
    sspi.FreeCredentialsHandle = FreeCredentialsHandle;
    sspi.InitializeSecurityContextA = Initialize;
    sspi.DecryptMessage = Decrypt;
    sspi.QueryContextAttributesA = Query;
    sspi.DeleteSecurityContext = [](PCtxtHandle) -> SECURITY_STATUS { return SEC_E_OK; }; // nothing to free
    sspi.FreeContextBuffer = [](void*) -> SECURITY_STATUS { return SEC_E_OK; };
    // A certificate judged again fails: TLS 1.3 cannot change it.
    const auto judge = [](const SecurityFunctionTableA&, CtxtHandle*, const std::string&) {
        return std::string(++script.Judged > 1 ? "judged again" : "");
    };
    const struct {
        DWORD Protocol;
        std::string Wire, Result; // the data | how it ended | what was sent
    } cases[] = {
        {SP_PROT_TLS1_3_CLIENT, "T3tktD2ab", "ab|open|"}, // a ticket, with and without extra bytes
        {SP_PROT_TLS1_3_CLIENT, "T3tktT3tktD2abD1c", "abc|open|"},
        {SP_PROT_TLS1_3_CLIENT, "D1aK2kuD1bC0", "ab|closed|ku"},
        {SP_PROT_TLS1_2_CLIENT, "D1aR0D1b", "a|the server asked to renegotiate the TLS 1.2 session, which this "
                                            "client refuses|"},
        {SP_PROT_TLS1_3_CLIENT, "D2abC0D1c", "ab|closed|"},
        {SP_PROT_TLS1_2_CLIENT, "D1aD0D1bC0", "ab|closed|"},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.Wire.size(); ++cut) {
            script = {c.Protocol, 0, 0, nullptr, 0};
            TTlsSession session("h.test", {&sspi, judge});
            std::string sent;
            ASSERT_TRUE(session.Begin(sent));
            for (const std::string& read : {"H0" + c.Wire.substr(0, cut), c.Wire.substr(cut)}) {
                std::memcpy(session.InputSpace().data(), read.data(), read.size());
                session.InputReceived(read.size());
                session.Process(sent);
            }
            std::string data(session.PlainHeld(), '\0');
            session.ReadPlain(data.data(), data.size());
            const std::string end =
                session.PeerClosed() ? "closed" : session.Failure().empty() ? "open" : session.Failure();
            EXPECT_EQ(data + "|" + end + "|" + sent, c.Result) << c.Wire << " cut at " << cut;
        }
    }
}

} // namespace
} // namespace qm
