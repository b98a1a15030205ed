// The socket interface of POSIX systems, for the shared code that speaks it (addresses, name
// lookups). Its Windows twin is win/socket_system.h; CMake puts the platform's in the include path.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
