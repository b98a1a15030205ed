// What the server's side of a conversation allows the updater to do to the client directory,
// read from the received byte stream with the wire oracle's division into frames.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "session/client_fixture.h"

namespace qm::fuzz {

ServerPermissions PermissionsIn(std::span<const std::uint8_t> stream,
                                std::string const& clientDirectory);

}  // namespace qm::fuzz
