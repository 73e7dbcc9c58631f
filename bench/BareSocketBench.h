// Baseline for wsockbench: the same loopback transfer as the socket
// component's, done with plain WinSock 1.1 calls so that the component's
// overhead shows. The receiving socket is in WSAAsyncSelect mode on a hidden
// window (FD_READ | FD_CLOSE) and reads into a 64 KiB buffer; the sending
// socket is non-blocking and sends the block in Piece-byte pieces, going on
// at each FD_WRITE after a send would block. The same sender can also feed
// another receiver (a Receiver), so the component's read path can be timed
// against it. Everything runs in the calling thread's message loop.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <cstddef>

namespace qm::bench {

// Moves Size bytes from one loopback socket to the other in sends of at most
// Piece bytes (Piece > 0). Returns the seconds from the first send until the
// last byte was received, or a negative value if a socket call failed or the
// transfer took longer than ten minutes.
double BareTransfer(std::size_t Size, int Piece);

// A receiving end other than the bare one. Adopt takes over the accepted
// socket (false if it cannot) and reads it from the thread's message loop;
// Received is the count of bytes read so far.
class Receiver {
public:
    virtual ~Receiver() = default;
    virtual bool Adopt(SOCKET Accepted) = 0;
    virtual std::size_t Received() const = 0;
};

// BareTransfer with To as the receiving end.
double TransferTo(Receiver& To, std::size_t Size, int Piece);

} // namespace qm::bench
