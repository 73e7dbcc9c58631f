// TTlsSession on a security channel scripted to answer as Windows documents
// where Wine answers otherwise. Server bytes: a kind letter, a length digit,
// the payload; a connection's bytes begin with the server's flight. They
// arrive in two reads, cut at every point; the client writes once as soon as
// the session is established. Every connection of the run shares one
// credential, and every one after the first is resumed.
#include "net/TlsCertCheck.h"
#include "net/TlsSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

namespace qm {
namespace {

// Awaited: a handshake message that DecryptMessage reported; Behind: the bytes behind it, its extra buffer;
// Asked: a request for a client certificate that InitializeSecurityContext answered SEC_I_INCOMPLETE_CREDENTIALS;
// Pending: from SEC_I_RENEGOTIATE until that message is answered (EncryptMessage fails meanwhile).
struct { DWORD Protocol; ULONG ExtraAt; int Judged; char Awaited, Asked; bool Pending; char* Behind; ULONG BehindSize; } script;
struct { int Acquired, Connections, Given, Freed; DWORD Disabled, Flags; } counts;

SECURITY_STATUS Answer(PSecBufferDesc Out, const char* Token, SECURITY_STATUS Status, ULONG At = 0)
{
    Out->pBuffers[At] = {static_cast<ULONG>(std::strlen(Token)), Out->pBuffers[At].BufferType, const_cast<char*>(Token)};
    ++counts.Given;
    return Status;
}

// Flights: H (done), Q (asks for a client certificate: SEC_I_INCOMPLETE_CREDENTIALS, then done when called
// again), X (asks, then goes on: the client's empty answer "cf"), A (refused: an alert). After SEC_I_RENEGOTIATE
// it is called at once with DecryptMessage's extra bytes or none: a ticket T completes, a key update K answers
// "ku", P asks for a certificate after the handshake (answered "cf"), N needs the bytes "n0" behind it, M answers
// "m" and continues with them ("kn"). A TLS 1.2 hello request R would start a new handshake: not expected.
SECURITY_STATUS Reply(PCredHandle Cred, ULONG Flags, PSecBufferDesc In, PSecBufferDesc Out)
{
    const SecBuffer* o = Out->pBuffers;
    if (!Cred || Cred->dwUpper != 1 || !(Flags & ISC_REQ_USE_SUPPLIED_CREDS) || Out->cBuffers != 3 ||
        o[0].BufferType != SECBUFFER_TOKEN || o[1].BufferType != SECBUFFER_ALERT || o[2].BufferType != SECBUFFER_EMPTY)
        return SEC_E_INTERNAL_ERROR;
    SecBuffer& in = In->pBuffers[0];
    In->pBuffers[1] = {in.cbBuffer, SECBUFFER_EXTRA, nullptr};
    if (const char asked = std::exchange(script.Asked, 0))
        return asked == 'Q' ? SEC_E_OK : Answer(Out, "cf", asked == 'X' ? SEC_I_CONTINUE_NEEDED : SEC_E_OK);
    const char awaited = std::exchange(script.Awaited, 0);
    if (awaited && (in.pvBuffer != script.Behind || in.cbBuffer != script.BehindSize || awaited == 'R'))
        return SEC_E_INVALID_TOKEN;
    if (awaited && awaited != 'N') {
        if (awaited == 'P')
            script.Asked = awaited;
        return awaited == 'P' ? SEC_I_INCOMPLETE_CREDENTIALS : awaited == 'K' ? Answer(Out, "ku", SEC_E_OK)
             : awaited == 'M'                                 ? Answer(Out, "m", SEC_I_CONTINUE_NEEDED) : SEC_E_OK;
    }
    if (in.cbBuffer < 2)
        return SEC_E_INCOMPLETE_MESSAGE;
    const char kind = static_cast<char*>(in.pvBuffer)[0];
    In->pBuffers[1].cbBuffer -= 2;
    if (kind == 'Q' || kind == 'X')
        script.Asked = kind;
    return kind == 'Q' || kind == 'X' ? SEC_I_INCOMPLETE_CREDENTIALS : kind == 'n' ? Answer(Out, "kn", SEC_E_OK)
         : kind == 'A'                 ? Answer(Out, "al", SEC_E_ILLEGAL_MESSAGE, 1) : SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle Cred, PCtxtHandle Ctxt, SEC_CHAR*, ULONG Flags, ULONG, ULONG,
                                     PSecBufferDesc In, ULONG, PCtxtHandle New, PSecBufferDesc Out, PULONG, PTimeStamp)
{
    if (!Ctxt) { // the client's hello (no token needed here)
        ++counts.Connections;
        *New = {1, 0};
        return SEC_I_CONTINUE_NEEDED;
    }
    const SECURITY_STATUS status = Reply(Cred, Flags, In, Out);
    script.Pending = script.Pending && status != SEC_E_OK;
    return status;
}

// A handshake message after the handshake is SEC_I_RENEGOTIATE, close_notify SEC_I_CONTEXT_EXPIRED, a record
// without data SEC_E_OK with an empty data buffer, a cut record SEC_E_INCOMPLETE_MESSAGE; the bytes behind the
// record are the extra buffer, in the buffer the row names (the data then moves behind it).
SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle, PSecBufferDesc Message, ULONG, PULONG)
{
    SecBuffer* b = Message->pBuffers;
    char* p = static_cast<char*>(b[0].pvBuffer);
    const ULONG size = b[0].cbBuffer, used = size < 2 ? 2 : 2 + static_cast<ULONG>(p[1] - '0');
    if (script.Awaited || script.Pending) // InitializeSecurityContext must come first
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

SECURITY_STATUS SEC_ENTRY Encrypt(PCtxtHandle, ULONG, PSecBufferDesc Message, ULONG)
{
    if (script.Awaited || script.Pending) // "EncryptData() can fail in strange ways"
        return SEC_E_INTERNAL_ERROR;
    std::memcpy(Message->pBuffers[0].pvBuffer, "e:", 2);
    return SEC_E_OK;
}

// The negotiated version, record sizes, and a resumed session after the first.
SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle, ULONG Attribute, void* Buffer)
{
    if (Attribute == SECPKG_ATTR_CONNECTION_INFO)
        static_cast<SecPkgContext_ConnectionInfo*>(Buffer)->dwProtocol = script.Protocol;
    else if (Attribute == SECPKG_ATTR_STREAM_SIZES)
        *static_cast<SecPkgContext_StreamSizes*>(Buffer) = {2, 0, 9, 4, 16};
    else if (Attribute == SECPKG_ATTR_SESSION_INFO)
        static_cast<SecPkgContext_SessionInfo*>(Buffer)->dwFlags = counts.Connections > 1 ? SSL_SESSION_RECONNECT : 0;
    else
        return SEC_E_UNSUPPORTED_FUNCTION; // an older system's answer to the cipher suite
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY Acquire(LPSTR, LPSTR, ULONG, void*, void* Data, SEC_GET_KEY_FN, void*, PCredHandle Cred,
                                  PTimeStamp)
{
    const auto* c = static_cast<const SCH_CREDENTIALS*>(Data);
    counts.Disabled = c->pTlsParameters->grbitDisabledProtocols;
    counts.Flags = c->dwFlags;
    *Cred = {7, static_cast<ULONG_PTR>(++counts.Acquired)};
    return SEC_E_OK;
}

std::future<std::string> Verdict(const std::string& Text)
{
    std::promise<std::string> verdict;
    verdict.set_value(Text);
    return verdict.get_future();
}

const SecurityFunctionTableA& Scripted()
{
    static SecurityFunctionTableA sspi = [] {
        SecurityFunctionTableA t{};
        t.AcquireCredentialsHandleA = Acquire;
        t.FreeCredentialsHandle = [](PCredHandle) -> SECURITY_STATUS { return SEC_E_OK; };
        t.InitializeSecurityContextA = Initialize;
        t.DecryptMessage = Decrypt;
        t.EncryptMessage = Encrypt;
        t.QueryContextAttributesA = Query;
        t.DeleteSecurityContext = [](PCtxtHandle) -> SECURITY_STATUS { return SEC_E_OK; }; // nothing to free
        t.FreeContextBuffer = [](void*) -> SECURITY_STATUS { return ++counts.Freed, SEC_E_OK; };
        return t;
    }();
    return sspi;
}

TEST(ScriptedWindows, EveryAnswerAtEveryCut)
{
    counts = {};
    TTlsCredential credential(FirstTls13Build);
    const auto judge = [](const SecurityFunctionTableA&, CtxtHandle*, const std::string&, std::function<void()>) {
        ++script.Judged;
        return Verdict("");
    };
    const std::string askedRefused = "the server asked for a client certificate, which this client does not have, and "
                                     "refused the connection: the TLS handshake with the server failed (security "
                                     "status 0x80090326)";
    const struct {
        DWORD Protocol;
        ULONG ExtraAt; // the DecryptMessage buffer that holds the extra bytes
        std::string Wire, Result; // the data | how it ended | what was sent
    } cases[] = {
        {SP_PROT_TLS1_3_CLIENT, 3, "H0T3tktD2ab", "ab|open|"}, // a ticket, with and without extra bytes
        {SP_PROT_TLS1_3_CLIENT, 3, "H0T3tktT3tktD2abD1c", "abc|open|"},
        {SP_PROT_TLS1_3_CLIENT, 3, "H0D1aK2kuD1bC0", "ab|closed|ku"},
        {SP_PROT_TLS1_2_CLIENT, 3, "H0D1aR0D1b", "a|the server asked to renegotiate the TLS 1.2 session, which this "
                                                 "client refuses|"},
        {SP_PROT_TLS1_3_CLIENT, 3, "H0D2abC0D1c", "ab|closed|"},
        {SP_PROT_TLS1_2_CLIENT, 3, "H0D1aD0D1bC0", "ab|closed|"},
        {SP_PROT_TLS1_3_CLIENT, 1, "H0T3tktD2abD1cC0", "abc|closed|"}, // the extra bytes in buffer 1, 2
        {SP_PROT_TLS1_2_CLIENT, 2, "H0D1aD0D1bC0", "ab|closed|"},
        {SP_PROT_TLS1_3_CLIENT, 3, "H0C0", "|closed|"}, // close_notify behind Finished
        {SP_PROT_TLS1_2_CLIENT, 3, "Q0D2ab", "ab|open|"}, // a client certificate asked for
        {SP_PROT_TLS1_2_CLIENT, 3, "X0A0", "|" + askedRefused + "|cfal"},
        {SP_PROT_TLS1_3_CLIENT, 3, "H0D1aP0D1b", "ab|open|cf"},
        {SP_PROT_TLS1_3_CLIENT, 3, "H0D1aN0n0D1b", "ab|open|kn"}, // writes wait while more bytes are needed
        {SP_PROT_TLS1_3_CLIENT, 3, "H0D1aM0n0D1bC0", "ab|closed|mkn"},
    };
    std::string lastConnection;
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.Wire.size(); ++cut) {
            script = {c.Protocol, c.ExtraAt, 0, 0, 0, false, nullptr, 0};
            TTlsSession session("h.test", {&Scripted(), judge, &credential});
            std::string sent;
            bool announced = false, wrote = false;
            ASSERT_TRUE(session.Begin(sent));
            for (const std::string& read : {c.Wire.substr(0, cut), c.Wire.substr(cut)}) {
                std::memcpy(session.InputSpace().data(), read.data(), read.size());
                session.InputReceived(read.size());
                announced |= session.Process(sent) == TTlsSession::TProgress::Established;
                if (session.Established() && !std::exchange(wrote, true))
                    session.Encrypt("w", 1, sent);
            }
            std::string data(session.PlainHeld(), '\0');
            session.ReadPlain(data.data(), data.size());
            std::string end = session.PeerClosed() ? announced ? "closed" : "closed unannounced"
                            : session.Failure().empty() ? "open" : session.Failure();
            if (announced && script.Judged != 1)
                end += " judged " + std::to_string(script.Judged);
            // The write went out once, whenever the session let it.
            if (const auto at = sent.find("e:w"); at != std::string::npos)
                sent.erase(at, 3);
            else if (wrote)
                end += " write lost";
            EXPECT_EQ(data + "|" + end + "|" + sent, c.Result) << c.Wire << " cut at " << cut;
            lastConnection = session.Connection();
        }
    }
    EXPECT_EQ(counts.Acquired, 1) << "one credential for every connection";
    EXPECT_EQ(counts.Given, counts.Freed) << "every output buffer freed";
    EXPECT_NE(lastConnection.find(", resumed"), std::string::npos) << lastConnection;
}

TEST(ScriptedWindows, Tls13FromBuild20348OnStrongSuitesAlways)
{
    for (const auto& [build, tls13] : {std::pair{19045UL, false}, {20347UL, false}, {20348UL, true}, {26100UL, true}}) {
        TTlsCredential credential(build);
        ASSERT_NE(credential.Get(Scripted()), nullptr);
        EXPECT_EQ((counts.Disabled & SP_PROT_TLS1_3_CLIENT) == 0, tls13) << build;
        EXPECT_EQ(counts.Disabled & SP_PROT_TLS1_2_CLIENT, 0UL) << build;
        EXPECT_TRUE(counts.Flags & SCH_USE_STRONG_CRYPTO) << build;
    }
}

// A certificate check that hangs (an issuer URL that never answers) holds neither the caller nor the session:
// records wait behind the verdict, and the session goes on once it is in.
TEST(CertificateCheck, OffTheCallersThread)
{
    using namespace std::chrono_literals;
    const std::shared_ptr<void> release(CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle);
    const std::shared_ptr<void> done(CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle);
    static std::future<std::string> pending;
    pending = CheckOffThread([release] { return WaitForSingleObject(release.get(), INFINITE), std::string("bad"); },
                             [done] { SetEvent(done.get()); });
    script = {SP_PROT_TLS1_2_CLIENT, 3, 0, 0, 0, false, nullptr, 0};
    counts = {};
    TTlsCredential credential(0);
    TTlsSession session("h.test", {&Scripted(), [](const SecurityFunctionTableA&, CtxtHandle*, const std::string&, std::function<void()>) {
                                    return std::move(pending);
                                }, &credential});
    std::string sent, wire = "H0D1a";
    ASSERT_TRUE(session.Begin(sent));
    std::memcpy(session.InputSpace().data(), wire.data(), wire.size());
    session.InputReceived(wire.size());
    EXPECT_EQ(session.Process(sent), TTlsSession::TProgress::Pending);
    EXPECT_EQ(session.PlainHeld(), 0U);
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(done.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(session.Process(sent), TTlsSession::TProgress::Failed);
    EXPECT_EQ(session.Failure() + "|" + std::to_string(session.PlainHeld()), "bad|0");
}

} // namespace
} // namespace qm
