// Pins of server keys as upd.ini writes them: "sha256//" and the base64 of the SHA-256 of the
// key's SubjectPublicKeyInfo (44 characters), several separated by ';'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/secure_channel.h"

namespace qm::net {

// Every pin of `text`; nothing when any part is not "sha256//" followed by 44 base64 characters
// (blanks around a part are allowed).
std::optional<std::vector<KeyPin>> ParseKeyPins(std::string_view text);

std::string FormatKeyPin(KeyPin const& pin);

}  // namespace qm::net
