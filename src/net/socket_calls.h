// The system's socket calls as the socket layer makes them, one implementation per platform.
// Every socket is non-blocking, not inherited by programs started later, and sends its frames at
// once (TCP_NODELAY). Errors are the system's codes: errno values on POSIX systems, Windows
// Sockets codes on Windows; LastError gives the one of the call that failed last.
#pragma once

#include <cstdint>
#include <span>

#include "net/endpoint.h"
#include "net/socket_handle.h"

namespace qm::net::sockets {

int LastError();
// The call would block on a non-blocking socket.
bool WouldBlock(int error);
// The call was interrupted by a signal and may simply be made again.
bool Interrupted(int error);
// The call failed for lack of descriptors or memory: it may succeed later, but not at once.
bool OutOfResources(int error);

// Readies the sockets interface of the process; false when it cannot be used.
bool Startup();

// A TCP socket of `endpoint`'s family, bound to the wildcard address of that family, port 0; no
// socket when one cannot be made or bound.
SocketHandle OpenConnecting(Endpoint const& endpoint);
// 0 when the connect finished at once or goes on in the background, else the error.
int StartConnect(SocketHandle socket, Endpoint const& endpoint);
// The outcome of a connect that went on in the background: 0, or its error.
int ConnectOutcome(SocketHandle socket);

// A listening TCP socket on `endpoint` (the address may be used again at once; an IPv6 socket
// takes IPv6 alone); none on failure.
SocketHandle Listen(Endpoint const& endpoint);
// A connection waiting on `listening`; none when there is none or it failed.
SocketHandle Accept(SocketHandle listening);

// The bytes sent or received (0 received: the peer shut down), or -1 with LastError. A send
// never raises SIGPIPE.
long Send(SocketHandle socket, std::span<const std::uint8_t> bytes);
long Receive(SocketHandle socket, std::span<std::uint8_t> into);

// Whether `socket` is still an open socket.
bool IsOpen(SocketHandle socket);
// Closes it: 0, or -1 on failure.
int Close(SocketHandle socket);

}  // namespace qm::net::sockets
