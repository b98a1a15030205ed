#include "net/socket_calls.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace qm::net::sockets {
namespace {

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket.native());
}

SocketHandle Handle(SOCKET socket) {
    return socket == INVALID_SOCKET ? kNoSocket : SocketHandle(static_cast<std::intptr_t>(socket));
}

sockaddr const* Address(Endpoint const& endpoint) {
    return reinterpret_cast<sockaddr const*>(endpoint.address.data());
}

// Non-blocking, not inherited by a program started later (which would keep the connection),
// and every frame sent at once (no Nagle delay).
SocketHandle OpenStream(int family) {
    SOCKET const socket =
        ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    BOOL const on = TRUE;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(socket);
        return kNoSocket;
    }
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char const*>(&on), sizeof on);
    return Handle(socket);
}

bool BindToWildcard(SOCKET socket, int family) {
    if (family == AF_INET6) {
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        return ::bind(socket, reinterpret_cast<sockaddr const*>(&any), sizeof any) == 0;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(socket, reinterpret_cast<sockaddr const*>(&any), sizeof any) == 0;
}

int Length(Endpoint const& endpoint) {
    return static_cast<int>(endpoint.length);
}

int ChunkSize(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, 1u << 30));
}

}  // namespace

int LastError() {
    return ::WSAGetLastError();
}

bool WouldBlock(int error) {
    return error == WSAEWOULDBLOCK;
}

bool Interrupted(int error) {
    return error == WSAEINTR;
}

bool OutOfResources(int error) {
    return error == WSAEMFILE || error == WSAENOBUFS;
}

bool Startup() {
    // Windows Sockets 2.2, started once for the life of the process.
    static bool const started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SocketHandle OpenConnecting(Endpoint const& endpoint) {
    SocketHandle const socket = OpenStream(endpoint.family());
    if (socket.valid() && !BindToWildcard(Native(socket), endpoint.family())) {
        ::closesocket(Native(socket));
        return kNoSocket;
    }
    return socket;
}

int StartConnect(SocketHandle socket, Endpoint const& endpoint) {
    if (::connect(Native(socket), Address(endpoint), Length(endpoint)) == 0) {
        return 0;
    }
    int const error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : error;
}

int ConnectOutcome(SocketHandle socket) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &size) != 0) {
        return ::WSAGetLastError();
    }
    if (error != 0) {
        return error;
    }
    // A connect that failed without leaving its error behind is not connected either.
    sockaddr_storage peer{};
    int peerSize = sizeof peer;
    if (::getpeername(Native(socket), reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) {
        return ::WSAGetLastError();
    }
    return 0;
}

SocketHandle Listen(Endpoint const& endpoint) {
    SocketHandle const socket = OpenStream(endpoint.family());
    if (!socket.valid()) {
        return kNoSocket;
    }
    // No other program may take the address while it is listened on.
    BOOL const exclusive = TRUE;
    ::setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<char const*>(&exclusive), sizeof exclusive);
    // IPv6 alone (the default here, made explicit), so that "::" and "0.0.0.0" can both be
    // listened on.
    DWORD const v6Only = 1;
    if (endpoint.family() == AF_INET6 &&
        ::setsockopt(Native(socket), IPPROTO_IPV6, IPV6_V6ONLY,
                     reinterpret_cast<char const*>(&v6Only), sizeof v6Only) != 0) {
        ::closesocket(Native(socket));
        return kNoSocket;
    }
    if (::bind(Native(socket), Address(endpoint), Length(endpoint)) != 0 ||
        ::listen(Native(socket), SOMAXCONN) != 0) {
        ::closesocket(Native(socket));
        return kNoSocket;
    }
    return socket;
}

SocketHandle Accept(SocketHandle listening) {
    // An accepted socket takes its listening socket's properties: non-blocking, not inherited.
    SOCKET const accepted = ::accept(Native(listening), nullptr, nullptr);
    if (accepted != INVALID_SOCKET) {
        BOOL const on = TRUE;
        ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char const*>(&on),
                     sizeof on);
    }
    return Handle(accepted);
}

long Send(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    return ::send(Native(socket), reinterpret_cast<char const*>(bytes.data()),
                  ChunkSize(bytes.size()), 0);
}

long Receive(SocketHandle socket, std::span<std::uint8_t> into) {
    return ::recv(Native(socket), reinterpret_cast<char*>(into.data()), ChunkSize(into.size()), 0);
}

bool IsOpen(SocketHandle socket) {
    int type = 0;
    int size = sizeof type;
    return socket.valid() && ::getsockopt(Native(socket), SOL_SOCKET, SO_TYPE,
                                          reinterpret_cast<char*>(&type), &size) == 0;
}

int Close(SocketHandle socket) {
    return ::closesocket(Native(socket)) == 0 ? 0 : -1;
}

}  // namespace qm::net::sockets
