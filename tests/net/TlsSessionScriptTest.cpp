// TTlsSession on a security channel scripted to answer as Windows documents
// where Wine answers otherwise. Records: a kind letter, a length digit, the
// payload. The server's bytes arrive in two reads, cut at every point. The
// client writes once established; all connections share one credential.
#include "net/TlsSession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace qm {
namespace {

// Awaited: a handshake message that DecryptMessage reported; Behind: the bytes behind it, its extra buffer.
// Asked: answered SEC_I_INCOMPLETE_CREDENTIALS; Pending: from SEC_I_RENEGOTIATE until the message is answered.
struct { DWORD Protocol; ULONG ExtraAt; int Judged; char Awaited, Asked; bool Pending; char* Behind; ULONG BehindSize; } script;
struct { int Acquired, Connections, Given, Freed; DWORD Disabled, Flags; } counts;
std::promise<std::string> verdict;

// An output buffer; a message answered in full ends what was pending.
SECURITY_STATUS Answer(PSecBufferDesc Out, const char* Token, SECURITY_STATUS Status, ULONG At = 0)
{
    Out->pBuffers[At] = {static_cast<ULONG>(std::strlen(Token)), Out->pBuffers[At].BufferType, const_cast<char*>(Token)};
    return ++counts.Given, script.Pending &= Status != SEC_E_OK, Status;
}

// Flights: H done; Q asks for a client certificate (SEC_I_INCOMPLETE_CREDENTIALS), done when called again; X
// asks, then goes on (the empty answer "cf"); A an alert for the client. After SEC_I_RENEGOTIATE: called at once
// with DecryptMessage's extra bytes or none; a TLS 1.3 ticket T completes at once, a key update K is answered
// "ku", P asks for a certificate (answered "cf"), N needs the bytes "n0" behind it, M answers "m" and continues
// with them ("kn"). A TLS 1.2 hello request R would start a new handshake: not expected.
SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle Cred, PCtxtHandle Ctxt, SEC_CHAR*, ULONG Flags, ULONG, ULONG,
                                     PSecBufferDesc In, ULONG, PCtxtHandle New, PSecBufferDesc Out, PULONG, PTimeStamp)
{
    if (!Ctxt) { // the client's hello (no token needed here)
        *New = {1, static_cast<ULONG_PTR>(++counts.Connections)};
        return SEC_I_CONTINUE_NEEDED;
    }
    if (!Cred || Cred->dwUpper != 1 || !(Flags & ISC_REQ_USE_SUPPLIED_CREDS) || Out->cBuffers != 3 ||
        Out->pBuffers[1].BufferType != SECBUFFER_ALERT)
        return SEC_E_INTERNAL_ERROR;
    SecBuffer& in = In->pBuffers[0];
    In->pBuffers[1] = {in.cbBuffer, SECBUFFER_EXTRA, nullptr};
    if (const char asked = std::exchange(script.Asked, 0))
        return Answer(Out, asked == 'Q' ? "" : "cf", asked == 'X' ? SEC_I_CONTINUE_NEEDED : SEC_E_OK);
    const char awaited = std::exchange(script.Awaited, 0);
    if (awaited && (in.pvBuffer != script.Behind || in.cbBuffer != script.BehindSize || awaited == 'R'))
        return SEC_E_INVALID_TOKEN;
    const char kind = awaited && awaited != 'N' ? awaited : in.cbBuffer < 2 ? 0 : static_cast<char*>(in.pvBuffer)[0];
    if (kind != awaited)
        In->pBuffers[1].cbBuffer -= 2;
    script.Asked = kind == 'Q' || kind == 'X' || kind == 'P' ? kind : 0;
    return kind == 0 ? SEC_E_INCOMPLETE_MESSAGE : script.Asked ? SEC_I_INCOMPLETE_CREDENTIALS
         : kind == 'K' ? Answer(Out, "ku", SEC_E_OK) : kind == 'M' ? Answer(Out, "m", SEC_I_CONTINUE_NEEDED)
         : kind == 'n' ? Answer(Out, "kn", SEC_E_OK) : Answer(Out, kind == 'A' ? "al" : "", kind == 'A' ? SEC_E_ILLEGAL_MESSAGE : SEC_E_OK, 1);
}

// A handshake message after the handshake (TLS 1.3 ticket or key update, TLS
// 1.2 hello request) is SEC_I_RENEGOTIATE, close_notify SEC_I_CONTEXT_EXPIRED,
// a record without data SEC_E_OK with an empty data buffer, a cut record
// SEC_E_INCOMPLETE_MESSAGE; the bytes behind the record are the extra buffer,
// in the buffer the row names (the data buffer moves behind it).
SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle, PSecBufferDesc Message, ULONG, PULONG)
{
    SecBuffer* b = Message->pBuffers;
    char* p = static_cast<char*>(b[0].pvBuffer);
    const ULONG size = b[0].cbBuffer, used = size < 2 ? 2 : 2 + static_cast<ULONG>(p[1] - '0');
    if (script.Pending) // InitializeSecurityContext must come first
        return SEC_E_OUT_OF_SEQUENCE;
    if (size < used)
        return SEC_E_INCOMPLETE_MESSAGE;
    const ULONG extra = script.ExtraAt, data = extra == 1 ? 2 : 1;
    b[0] = {2, SECBUFFER_STREAM_HEADER, p};
    b[data] = {p[0] == 'D' ? used - 2 : 0, SECBUFFER_DATA, p + 2};
    b[6 - extra - data] = {0, SECBUFFER_STREAM_TRAILER, p + used};
    b[extra] = {size - used, static_cast<ULONG>(size > used ? SECBUFFER_EXTRA : SECBUFFER_EMPTY), p + used};
    script.Behind = p + used;
    script.BehindSize = size - used;
    script.Awaited = p[0] == 'D' || p[0] == 'C' ? 0 : p[0];
    script.Pending = script.Awaited != 0;
    return p[0] == 'D' ? SEC_E_OK : p[0] == 'C' ? SEC_I_CONTEXT_EXPIRED : SEC_I_RENEGOTIATE;
}

// The negotiated version, record sizes, and a resumed session after the first.
SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle Ctxt, ULONG Attribute, void* Buffer)
{
    if (Attribute == SECPKG_ATTR_CONNECTION_INFO)
        static_cast<SecPkgContext_ConnectionInfo*>(Buffer)->dwProtocol = script.Protocol;
    else if (Attribute == SECPKG_ATTR_STREAM_SIZES)
        *static_cast<SecPkgContext_StreamSizes*>(Buffer) = {2, 0, 9, 4, 16};
    else if (Attribute == SECPKG_ATTR_SESSION_INFO)
        static_cast<SecPkgContext_SessionInfo*>(Buffer)->dwFlags = Ctxt->dwUpper > 1 ? SSL_SESSION_RECONNECT : 0;
    else
        return SEC_E_UNSUPPORTED_FUNCTION; // an older system's answer to the cipher suite
    return SEC_E_OK;
}

TEST(ScriptedWindows, PostHandshakeMessagesAndEndsAtEveryCut)
{
    SecurityFunctionTableA sspi{};
    sspi.AcquireCredentialsHandleA = [](LPSTR, LPSTR, ULONG, void*, void* Data, SEC_GET_KEY_FN, void*, PCredHandle Cred, PTimeStamp) -> SECURITY_STATUS {
        const auto* c = static_cast<const SCH_CREDENTIALS*>(Data);
        counts.Disabled = c->pTlsParameters->grbitDisabledProtocols, counts.Flags = c->dwFlags;
        return *Cred = {7, static_cast<ULONG_PTR>(++counts.Acquired)}, SEC_E_OK;
    };
    sspi.FreeCredentialsHandle = [](PCredHandle) -> SECURITY_STATUS { return SEC_E_OK; };
    sspi.InitializeSecurityContextA = Initialize;
    sspi.DecryptMessage = Decrypt;
    sspi.EncryptMessage = [](PCtxtHandle, ULONG, PSecBufferDesc Message, ULONG) -> SECURITY_STATUS { // "can fail in
        return script.Pending ? SEC_E_INTERNAL_ERROR : (std::memcpy(Message->pBuffers[0].pvBuffer, "e:", 2), SEC_E_OK);
    }; // strange ways" while a handshake message is being answered
    sspi.QueryContextAttributesA = Query;
    sspi.DeleteSecurityContext = [](PCtxtHandle) -> SECURITY_STATUS { return SEC_E_OK; }; // nothing to free
    sspi.FreeContextBuffer = [](void*) -> SECURITY_STATUS { return ++counts.Freed, SEC_E_OK; };
    const auto judge = [](const SecurityFunctionTableA&, CtxtHandle*, const std::string&, std::function<void()>) {
        return ++script.Judged, verdict = {}, verdict.get_future();
    };
    const struct {
        DWORD Protocol;
        std::string Wire, Result; // the data | how it ended | what was sent
        ULONG ExtraAt = 3;        // the DecryptMessage buffer of the extra bytes
    } cases[] = {
        {SP_PROT_TLS1_3_CLIENT, "T3tktD2ab", "ab|open|"}, // a ticket, with and without extra bytes
        {SP_PROT_TLS1_3_CLIENT, "T3tktT3tktD2abD1c", "abc|open|"},
        {SP_PROT_TLS1_3_CLIENT, "D1aK2kuD1bC0", "ab|closed|ku"},
        {SP_PROT_TLS1_2_CLIENT, "D1aR0D1b", "a|the server asked to renegotiate the TLS 1.2 session, which this "
                                            "client refuses|"},
        {SP_PROT_TLS1_3_CLIENT, "D2abC0D1c", "ab|closed|"},
        {SP_PROT_TLS1_2_CLIENT, "D1aD0D1bC0", "ab|closed|"},
        {SP_PROT_TLS1_3_CLIENT, "T3tktD2abD1cC0", "abc|closed|", 1}, {SP_PROT_TLS1_2_CLIENT, "D1aD0D1bC0", "ab|closed|", 2},
        {SP_PROT_TLS1_3_CLIENT, "C0", "|closed|"}, // close_notify behind Finished
        {SP_PROT_TLS1_2_CLIENT, "Q0D2ab", "ab|open|"}, {SP_PROT_TLS1_2_CLIENT, "X0A0", "|the server asked for a client certificate, which this client does not have, and refused the "
                                                                   "connection: the TLS handshake with the server failed (security status 0x80090326)|cfal"},
        {SP_PROT_TLS1_3_CLIENT, "D1aP0D1b", "ab|open|cf"}, {SP_PROT_TLS1_3_CLIENT, "D1aN0n0D1b", "ab|open|kn"},
        {SP_PROT_TLS1_3_CLIENT, "D1aM0n0D1bC0", "ab|closed|mkn"},
    };
    TTlsCredential credential(FirstTls13Build);
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.Wire.size(); ++cut) {
            script = {c.Protocol, c.ExtraAt, 0, 0, 0, false, nullptr, 0};
            TTlsSession session("h.test", {&sspi, judge, &credential});
            std::string sent, held;
            bool announced = false, wrote = false, judged = false;
            ASSERT_TRUE(session.Begin(sent));
            const std::string flight = c.Wire[0] == 'Q' || c.Wire[0] == 'X' ? "" : "H0"; // or the row's
            for (const std::string& read : {flight + c.Wire.substr(0, cut), c.Wire.substr(cut)}) {
                std::memcpy(session.InputSpace().data(), read.data(), read.size());
                session.InputReceived(read.size());
                announced |= session.Process(sent) == TTlsSession::TProgress::Established;
                if (script.Judged == 1 && !std::exchange(judged, true)) { // nothing goes on before the verdict
                    held = session.PlainHeld() > 0 || session.Established() ? " not held" : "";
                    verdict.set_value("");
                    announced |= session.Process(sent) == TTlsSession::TProgress::Established;
                }
                if (session.Established() && !std::exchange(wrote, true))
                    session.Encrypt("w", 1, sent);
            }
            std::string data(session.PlainHeld(), '\0');
            session.ReadPlain(data.data(), data.size());
            std::string end = session.PeerClosed() ? announced ? "closed" : "closed unannounced"
                            : session.Failure().empty() ? "open" : session.Failure();
            if (const auto at = sent.find("e:w"); at != std::string::npos) // the write went out once
                sent.erase(at, 3);
            else if (wrote)
                end += " write lost";
            const bool resumed = session.Connection().find(", resumed") != std::string::npos;
            EXPECT_EQ(data + "|" + end + held + (script.Judged > 1 ? " judged again" : "") + "|" + sent, c.Result)
                << c.Wire << " cut at " << cut;
            EXPECT_EQ(resumed, !session.Connection().empty() && counts.Connections > 1) << session.Connection();
        }
    }
    EXPECT_EQ(counts.Acquired, 1) << "one credential for every connection";
    EXPECT_EQ(counts.Given, counts.Freed) << "every output buffer freed";
    for (const DWORD build : {19045UL, 20347UL, 20348UL, 26100UL}) { // TLS 1.3 from 20348 on, strong suites always
        ASSERT_NE(TTlsCredential(build).Get(sspi), nullptr);
        EXPECT_EQ(counts.Disabled & (SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_2_CLIENT), build < 20348 ? SP_PROT_TLS1_3_CLIENT : 0);
        EXPECT_TRUE(counts.Flags & SCH_USE_STRONG_CRYPTO) << build;
    }
}

} // namespace
} // namespace qm
