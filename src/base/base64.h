// Base64 (RFC 4648, with '=' padding), as pins of server keys are written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::base {

std::string EncodeBase64(std::span<const std::uint8_t> bytes);

// The bytes `text` encodes; nothing when it is not base64 with correct padding.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace qm::base
