#include "session/server_permissions.h"

#include <algorithm>

#include "support/wire_format.h"

namespace qm::fuzz {
namespace {

// FileDescription: frame type 4, kind 1; action at 15, local path (64 bytes) at 23, CRC at 487.
constexpr std::size_t kDescriptionLength = 491;
constexpr std::uint8_t kCheckFile = 1;
constexpr std::uint8_t kDeleteFile = 4;

std::string_view LocalPath(std::span<const std::uint8_t> frame) {
    std::span<const std::uint8_t> const field = frame.subspan(23, 64);
    auto const end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return {reinterpret_cast<char const*>(field.data()),
            static_cast<std::size_t>(end - field.begin())};
}

}  // namespace

ServerPermissions PermissionsIn(std::span<const std::uint8_t> stream,
                                std::string const& clientDirectory) {
    ServerPermissions permissions;
    for (std::span<const std::uint8_t> const frame : wire::SplitFrames(stream).frames) {
        if (frame.size() < kDescriptionLength || frame[2] != wire::kUpdateFrame || frame[11] != 1) {
            continue;
        }
        if (frame[15] == kCheckFile) {
            permissions.checksums.insert(wire::Read32(frame, 487));
        } else if (frame[15] == kDeleteFile) {
            permissions.deletions.insert(ClientRelativePath(clientDirectory, LocalPath(frame)));
        }
    }
    return permissions;
}

}  // namespace qm::fuzz
