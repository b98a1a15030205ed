// The socket interface of Windows (Windows Sockets 2), for the shared code that speaks it
// (addresses, name lookups). Its POSIX twin is unix/socket_system.h; CMake puts the platform's in
// the include path.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
