// TTlsSession on the answers Windows documents where Wine gives others (TLS
// 1.3, post-handshake messages, close_notify as an expired context), from a
// scripted security channel. Its records: a kind letter, a length digit, the
// payload. Each read is cut at every point into two reads.
#include "net/TlsSession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace qm {
namespace {

struct TScript {
    DWORD Protocol = 0;
    int Judged = 0;
    char Awaited = 0;       // a handshake message that DecryptMessage reported
    char* Behind = nullptr; // and the bytes behind it, its extra buffer
    ULONG BehindSize = 0;
} script;

void Token(PSecBufferDesc Out, const char* Text) { Out->pBuffers[0] = {2, SECBUFFER_TOKEN, const_cast<char*>(Text)}; }

SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle, PCtxtHandle Ctxt, SEC_CHAR*, ULONG, ULONG, ULONG, PSecBufferDesc In,
                                     ULONG, PCtxtHandle New, PSecBufferDesc Out, PULONG, PTimeStamp)
{
    if (!Ctxt) { // the client's hello
        *New = {1, 0};
        Token(Out, "hs");
        return SEC_I_CONTINUE_NEEDED;
    }
    if (!In) { // after ApplyControlToken(SCHANNEL_SHUTDOWN): the client's close_notify
        Token(Out, "cn");
        return SEC_E_OK;
    }
    SecBuffer& in = In->pBuffers[0];
    ULONG used = 2; // the server's flight is "H0"
    // Documented: after SEC_I_RENEGOTIATE, called at once with DecryptMessage's
    // extra bytes (or none); a TLS 1.3 message completes at once (a key update
    // answered by the client's own), the records behind come back as extra.
    // A TLS 1.2 hello request would start a new handshake: not expected here.
    if (const char awaited = std::exchange(script.Awaited, 0)) {
        if (in.pvBuffer != script.Behind || in.cbBuffer != script.BehindSize || awaited == 'R')
            return SEC_E_INVALID_TOKEN;
        if (awaited == 'K')
            Token(Out, "ku");
        used = 0;
    } else if (in.cbBuffer < used) {
        return SEC_E_INCOMPLETE_MESSAGE;
    }
    In->pBuffers[1] = {in.cbBuffer - used, SECBUFFER_EXTRA, nullptr};
    return SEC_E_OK;
}

// Documented: a handshake message after the handshake (a TLS 1.3 ticket or
// key update, a TLS 1.2 hello request) is SEC_I_RENEGOTIATE; close_notify is
// SEC_I_CONTEXT_EXPIRED; a record without data is SEC_E_OK with an empty data
// buffer; a cut record is SEC_E_INCOMPLETE_MESSAGE; the bytes behind the
// record are an extra buffer.
SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle, PSecBufferDesc Message, ULONG, PULONG)
{
    SecBuffer* b = Message->pBuffers;
    char* p = static_cast<char*>(b[0].pvBuffer);
    const ULONG size = b[0].cbBuffer;
    if (script.Awaited) // InitializeSecurityContext must come first
        return SEC_E_OUT_OF_SEQUENCE;
    const ULONG used = size < 2 ? 2 : 2 + static_cast<ULONG>(p[1] - '0');
    if (size < used)
        return SEC_E_INCOMPLETE_MESSAGE;
    b[0] = {2, SECBUFFER_STREAM_HEADER, p};
    b[1] = {p[0] == 'D' ? used - 2 : 0, SECBUFFER_DATA, p + 2};
    b[2] = {0, SECBUFFER_STREAM_TRAILER, p + used};
    b[3] = {size - used, static_cast<ULONG>(size > used ? SECBUFFER_EXTRA : SECBUFFER_EMPTY), p + used};
    script.Behind = p + used;
    script.BehindSize = size - used;
    if (p[0] == 'D')
        return SEC_E_OK;
    if (p[0] == 'C')
        return SEC_I_CONTEXT_EXPIRED;
    script.Awaited = p[0];
    return SEC_I_RENEGOTIATE;
}

SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle, ULONG Attribute, void* Buffer)
{
    if (Attribute == SECPKG_ATTR_CONNECTION_INFO)
        static_cast<SecPkgContext_ConnectionInfo*>(Buffer)->dwProtocol = script.Protocol;
    else
        *static_cast<SecPkgContext_StreamSizes*>(Buffer) = {2, 0, 9, 4, 16};
    return SEC_E_OK;
}

TTlsSystem Scripted()
{
    static SecurityFunctionTableA table{};
    table.AcquireCredentialsHandleA = AcquireCredentialsHandleA; // the real ones
    table.FreeCredentialsHandle = FreeCredentialsHandle;
    table.InitializeSecurityContextA = Initialize;
    table.DecryptMessage = Decrypt;
    table.QueryContextAttributesA = Query;
    table.ApplyControlToken = [](PCtxtHandle, PSecBufferDesc) -> SECURITY_STATUS { return SEC_E_OK; };
    table.DeleteSecurityContext = [](PCtxtHandle) -> SECURITY_STATUS { return SEC_E_OK; };
    table.FreeContextBuffer = [](void*) -> SECURITY_STATUS { return SEC_E_OK; };
    return {&table, [](const SecurityFunctionTableA&, CtxtHandle*, const std::string&) {
                ++script.Judged;
                return std::string();
            }};
}

struct TCase {
    const char* Name;
    DWORD Protocol;
    const char* Wire;
    const char* Plain;  // the data, in order
    const char* Ending; // "open", "closed" or a part of the failure
    const char* Sent;   // the client's hello, answers, then its close_notify
};

const TCase Cases[] = {
    {"TicketThenData", SP_PROT_TLS1_3_CLIENT, "T3tktD2ab", "ab", "open", "hscn"},
    {"TwoTicketsThenData", SP_PROT_TLS1_3_CLIENT, "T3tktT3tktD2abD1c", "abc", "open", "hscn"},
    {"KeyUpdate", SP_PROT_TLS1_3_CLIENT, "D1aK2kuD1bC0", "ab", "closed", "hskucn"},
    {"Tls12RenegotiationRefused", SP_PROT_TLS1_2_CLIENT, "D1aR0D1b", "a", "refuses", "hs"},
    {"CloseNotifyEndsInput", SP_PROT_TLS1_3_CLIENT, "D2abC0D1c", "ab", "closed", "hscn"},
    {"EmptyRecordSkipped", SP_PROT_TLS1_2_CLIENT, "D1aD0D1bC0", "ab", "closed", "hscn"},
};

class ScriptedWindows : public testing::TestWithParam<TCase> {};

TEST_P(ScriptedWindows, EveryCut)
{
    const TCase& c = GetParam();
    const std::string wire = c.Wire;
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        script = {c.Protocol};
        TTlsSession session("h.test", Scripted());
        std::string sent;
        ASSERT_TRUE(session.Begin(sent));
        for (const std::string& read : {"H0" + wire.substr(0, cut), wire.substr(cut)}) {
            std::memcpy(session.InputSpace().data(), read.data(), read.size());
            session.InputReceived(read.size());
            session.Process(sent);
        }
        std::string plain(session.PlainHeld(), '\0');
        session.ReadPlain(plain.data(), plain.size());
        session.Shutdown(sent);
        const std::string ending = session.PeerClosed() ? "closed" : session.Failure().empty() ? "open" : session.Failure();
        EXPECT_EQ(plain, c.Plain) << "cut " << cut;
        EXPECT_NE(ending.find(c.Ending), std::string::npos) << "cut " << cut << ": " << ending;
        EXPECT_EQ(sent, c.Sent) << "cut " << cut;
        EXPECT_EQ(script.Judged, 1) << "cut " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, ScriptedWindows, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TCase>& Info) { return Info.param.Name; });

} // namespace
} // namespace qm
