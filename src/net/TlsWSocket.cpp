// TTlsWSocket: the TLS session driven by the socket's notifications.
#include "net/TlsWSocket.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace qm {

void TTlsWSocket::Connect()
{
    session_.reset();
    readAhead_.Clear();
    drained_ = false;
    ++connection_;
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
    // The certificate check's thread wakes the session with a read
    // notification, as WinSock posts them. One that arrives after this
    // connection is gone finds a recv with nothing to read, as a spurious
    // one would; a destroyed socket's window takes none.
    session_->OnVerdict([window = Handle(), socket = HSocket()] {
        PostMessageA(window, WM_SOCKET_EVENT, socket, WSAMAKESELECTREPLY(FD_READ, 0));
    });
    // Bytes read ahead of the switch belong to the session.
    while (!readAhead_.Empty()) {
        const auto space = session_->InputSpace();
        session_->InputReceived(readAhead_.Read(space.data(), space.size()));
    }
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
// work on it; on a plain connection reads ahead. The read loop calls again
// while bytes wait.
bool TTlsWSocket::DoDataAvailable(std::uint16_t Error)
{
    if (!session_)
        return OnDataAvailable ? ReadAhead(Error) : TWSocket::DoDataAvailable(Error);
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

// Hands out what is held, then reads up to ReadAheadSize bytes at a time,
// again while a read fills all it asked for: under Wine every socket call
// is a round trip to its server, and the next call after a full read is as
// likely to find bytes as the read loop's FIONREAD. A read that ends short
// found the socket empty: the read loop does not ask again (see
// BytesWaiting).
bool TTlsWSocket::ReadAhead(std::uint16_t Error)
{
    const auto alive = Alive();
    const std::uint32_t connection = connection_;
    drained_ = false;
    const int size = std::clamp(ReadAheadSize, 1, MaxReadAhead);
    for (int count = size;;) {
        DeliverPlain(Error);
        if (!alive || connection_ != connection || session_ || HSocket() == INVALID_SOCKET || !readAhead_.Empty())
            return true;
        if (count < size) {
            drained_ = true;
            return true;
        }
        const auto space = readAhead_.Space(static_cast<std::size_t>(size));
        count = TWSocket::Receive(space.data(), size);
        if (count > 0) {
            readAhead_.Received(static_cast<std::size_t>(count));
            continue;
        }
        // The close (0) or a failure: the handler's own recv meets it, as on
        // a TWSocket. Nothing waiting is not worth a call.
        if (count == 0 || LastError() != WSAEWOULDBLOCK)
            return TWSocket::DoDataAvailable(Error);
        return true;
    }
}

// Raises OnDataAvailable while bytes are held and the handler takes some of
// them. A handler that raises ends the delivery; the bytes it left get a
// read notification of their own.
void TTlsWSocket::DeliverPlain(std::uint16_t Error)
{
    const auto alive = Alive();
    const std::uint32_t connection = connection_;
    const TTlsSession* session = session_.get();
    const auto same = [&] { return connection_ == connection && session_.get() == session && HSocket() != INVALID_SOCKET; };
    while (same() && Held() > 0) {
        const std::size_t held = Held();
        try {
            if (!TWSocket::DoDataAvailable(Error))
                return;
        } catch (...) {
            if (alive && same() && Held() > 0)
                PostMessageA(Handle(), WM_SOCKET_EVENT, HSocket(), WSAMAKESELECTREPLY(FD_READ, 0));
            throw;
        }
        if (!alive || (same() && Held() == held))
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
    if (HSocket() == INVALID_SOCKET)
        readAhead_.Clear();
    if (!session_ && readAhead_.Empty())
        return TWSocket::Receive(Buffer, Size);
    if (Size <= 0)
        return 0;
    const std::size_t n = session_ ? session_->ReadPlain(Buffer, static_cast<std::size_t>(Size))
                                   : readAhead_.Read(Buffer, static_cast<std::size_t>(Size));
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
    // Held by the session (a handshake message is being answered): they go
    // out with the answer, and OnDataSent waits for them.
    if (Len > 0 && records.empty())
        return Len;
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

bool TTlsWSocket::BytesWaiting(u_long& Count)
{
    Count = 0;
    if (!std::exchange(drained_, false) && !TWSocket::BytesWaiting(Count))
        return false;
    Count = static_cast<u_long>(std::min<std::size_t>(Count + Held(), INT32_MAX));
    return true;
}

// A close that the peer made while the handshake, or a record, was still
// incomplete is a failure of the session, not an orderly end. A local close
// (the handle is gone) drops the bytes held; before the peer's close the
// read loop has offered them to the handler.
void TTlsWSocket::DoSessionClosed(std::uint16_t Error)
{
    if (HSocket() == INVALID_SOCKET)
        readAhead_.Clear();
    if (session_ && !closing_ && failure_.empty()) {
        if (handshaking_ && session_->ClientCertificateAsked())
            failure_ = "the server asked for a client certificate, which this client does not have, and closed "
                       "the connection during the TLS handshake";
        else if (handshaking_)
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
