// TTlsWSocket: the TLS session driven by the socket's notifications.
#include "net/TlsWSocket.h"

namespace qm {

void TTlsWSocket::Connect()
{
    session_.reset();
    handshaking_ = false;
    closing_ = false;
    failure_.clear();
    TWSocket::Connect();
}

void TTlsWSocket::DoSessionConnected(std::uint16_t Error)
{
    if (Error != 0 || tlsServerName_.empty() || session_) {
        TWSocket::DoSessionConnected(Error);
        return;
    }
    StartTls(tlsServerName_);
}

void TTlsWSocket::StartTls(const std::string& ServerName)
{
    session_ = std::make_unique<TTlsSession>(ServerName);
    handshaking_ = true;
    std::string hello;
    if (!session_->Begin(hello)) {
        Fail(session_->Failure());
        return;
    }
    SendRaw(hello);
}

// Queues bytes as they are, bypassing the encryption of Send.
void TTlsWSocket::SendRaw(const std::string& Bytes)
{
    if (!Bytes.empty() && State() == wsConnected)
        TWSocket::Send(Bytes.data(), static_cast<int>(Bytes.size()));
}

// Reads what waits in the socket into the session, then lets the session
// work on it. The read loop calls again while bytes wait.
bool TTlsWSocket::DoDataAvailable(std::uint16_t Error)
{
    if (!session_)
        return TWSocket::DoDataAvailable(Error);
    const auto space = session_->InputSpace();
    const int count = TWSocket::Receive(space.data(), static_cast<int>(space.size()));
    if (count > 0)
        session_->InputReceived(static_cast<std::size_t>(count));
    Advance(Error);
    return true;
}

void TTlsWSocket::Advance(std::uint16_t Error)
{
    std::string out;
    const auto progress = session_->Process(out);
    const auto alive = Alive();
    SendRaw(out);
    if (!alive || !session_)
        return;
    if (progress == TTlsSession::TProgress::Failed) {
        Fail(session_->Failure());
        return;
    }
    if (progress == TTlsSession::TProgress::Established && handshaking_) {
        handshaking_ = false;
        const TTlsSession* session = session_.get();
        TWSocket::DoSessionConnected(0);
        // The handler may have closed, reconnected or destroyed the socket.
        if (!alive || session_.get() != session)
            return;
    }
    DeliverPlain(Error);
    if (alive)
        EndAfterPeerClose();
}

// The peer's close_notify ends the connection as a close would, once the
// data before it was taken: answer it (Close sends ours) and close.
void TTlsWSocket::EndAfterPeerClose()
{
    if (session_ && session_->PeerClosed() && session_->PlainHeld() == 0 && State() == wsConnected)
        Close();
}

// Raises OnDataAvailable while decrypted bytes are held and the handler
// takes some of them.
void TTlsWSocket::DeliverPlain(std::uint16_t Error)
{
    const auto alive = Alive();
    const TTlsSession* session = session_.get();
    while (session_.get() == session && session_->PlainHeld() > 0) {
        const std::size_t held = session_->PlainHeld();
        if (!TWSocket::DoDataAvailable(Error) || !alive)
            return;
        if (session_.get() == session && session_->PlainHeld() == held)
            return;
    }
}

void TTlsWSocket::Fail(const std::string& Reason)
{
    if (failure_.empty())
        failure_ = Reason;
    const auto alive = Alive();
    if (handshaking_) {
        handshaking_ = false;
        TWSocket::DoSessionConnected(TlsFailedError);
        if (!alive)
            return;
    }
    if (State() != wsClosed)
        Close();
}

int TTlsWSocket::Receive(void* Buffer, int Size)
{
    if (!session_)
        return TWSocket::Receive(Buffer, Size);
    if (Size <= 0)
        return 0;
    const std::size_t n = session_->ReadPlain(Buffer, static_cast<std::size_t>(Size));
    if (n == 0) {
        WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return static_cast<int>(n);
}

int TTlsWSocket::Send(const void* Data, int Len)
{
    if (!session_)
        return TWSocket::Send(Data, Len);
    std::string records;
    if (handshaking_ || (Len > 0 && !session_->Encrypt(Data, static_cast<std::size_t>(Len), records))) {
        WSASetLastError(WSAENOTCONN);
        return -1;
    }
    if (TWSocket::Send(records.data(), static_cast<int>(records.size())) < 0)
        return -1;
    return Len > 0 ? Len : 0;
}

void TTlsWSocket::Close()
{
    if (!closing_ && session_ && session_->Established() && State() == wsConnected) {
        closing_ = true;
        std::string notify;
        session_->Shutdown(notify);
        const auto alive = Alive();
        try {
            SendRaw(notify);
        } catch (const ESocketException&) {
            // The connection is going anyway; close_notify is a courtesy.
        }
        if (!alive)
            return;
    }
    closing_ = true;
    TWSocket::Close();
}

// A close that the peer made while the handshake, or a record, was still
// incomplete is a failure of the session, not an orderly end.
void TTlsWSocket::DoSessionClosed(std::uint16_t Error)
{
    if (session_ && !closing_ && failure_.empty()) {
        if (handshaking_)
            failure_ = "the server closed the connection during the TLS handshake";
        else if (session_->PartialInputHeld())
            failure_ = "the connection ended in the middle of a TLS record";
    }
    TWSocket::DoSessionClosed(Error);
}

void TTlsWSocket::DoDataSent(std::uint16_t Error)
{
    if (!handshaking_)
        TWSocket::DoDataSent(Error);
}

} // namespace qm
