// TLS for a run whose upd.ini pins the server's key. On Linux the channels come from the
// program's TLS module (OpenSSL), loaded only then (unix/tls_module.cpp); on Windows from
// Schannel, the system's, linked into the program (win/tls_module.cpp).
#pragma once

#include <cstdio>
#include <memory>
#include <span>

#include "net/secure_channel.h"

namespace qm::app {

// The module's file on Linux is ModuleFileName(kTlsModuleName) (program_module.h).
inline constexpr char kTlsModuleName[] = "quillmesh-updater-tls";

// Channels that accept only a server whose key matches one of `pins`; nothing when the module
// cannot be loaded (Linux) or Schannel takes no credentials (Windows), which is said in one line
// on `notes`.
std::shared_ptr<net::SecureChannelFactory> LoadPinnedTls(std::span<const net::KeyPin> pins,
                                                         std::FILE* notes);

}  // namespace qm::app
