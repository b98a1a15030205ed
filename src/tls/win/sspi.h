// The headers of Schannel, included in the order and with the definitions they need: the security
// support provider interface (SECURITY_WIN32), and Schannel's structures of Windows 10 1809 and
// later (SCH_CREDENTIALS, TLS_PARAMETERS, CRYPTO_SETTINGS), which mingw-w64 declares only with
// SCHANNEL_USE_BLACKLISTS.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <bcrypt.h>
#include <security.h>
#include <schannel.h>
// clang-format on
