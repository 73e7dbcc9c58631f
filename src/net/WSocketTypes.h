// The socket component's enumerations, portable so that tests and tools can
// name states without the Windows headers.
#pragma once

#include <cstdint>

namespace qm {

// Value, name. The values are fixed: they are stored and compared as numbers.
#define QM_SOCKET_STATES(X) \
    X(wsInvalidState, 0)   /* never entered; also "no awaited state" */ \
    X(wsOpened, 1)         /* socket created by Connect */ \
    X(wsBound, 2)          /* Listen: bound to the local address */ \
    X(wsConnecting, 3)     /* stream connect under way */ \
    X(wsConnected, 4)      /* connect done; datagram Connect/Listen; Dup */ \
    X(wsAccepting, 5)      /* never entered */ \
    X(wsListening, 6)      /* Listen: listening */ \
    X(wsClosed, 7)         /* initial state; every close */

enum TSocketState : std::uint8_t {
#define QM_STATE_ENUM(name, value) name = value,
    QM_SOCKET_STATES(QM_STATE_ENUM)
#undef QM_STATE_ENUM
};

// The state's name ("wsConnected"), or "?" for a value outside the enumeration.
const char* SocketStateName(TSocketState State);

enum TSocketSendFlags : std::uint8_t {
    wsSendNormal = 0, // stored as flags value 0
    wsSendUrgent = 1, // stored as MSG_OOB
};

} // namespace qm
