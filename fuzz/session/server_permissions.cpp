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

// ListEntries: frame type 4, kind 9; entry count at 19, entries from 23, each: action (1),
// CRC (4), size (4), local path length (1) and path, remote name length (2) and name, extra
// length (1) and extra bytes.
constexpr std::size_t kEntriesAt = 23;

void AllowEntries(std::span<const std::uint8_t> frame, std::string const& clientDirectory,
                  ServerPermissions& permissions) {
    if (frame.size() < kEntriesAt) {
        return;
    }
    std::span<const std::uint8_t> rest = frame.subspan(kEntriesAt);
    while (rest.size() >= 13) {
        std::size_t const pathLength = rest[9];
        if (10 + pathLength + 2 > rest.size()) {
            return;
        }
        std::size_t const nameLength =
            (std::size_t{rest[10 + pathLength]} << 8) | rest[11 + pathLength];
        std::size_t const extraAt = 12 + pathLength + nameLength;
        if (extraAt + 1 > rest.size() || extraAt + 1 + rest[extraAt] > rest.size()) {
            return;
        }
        std::string_view const path(reinterpret_cast<char const*>(rest.data() + 10), pathLength);
        if (rest[0] == kCheckFile) {
            permissions.checksums.insert(wire::Read32(rest, 1));
        } else if (rest[0] == kDeleteFile) {
            permissions.deletions.insert(ClientRelativePath(clientDirectory, path));
        }
        rest = rest.subspan(extraAt + 1 + rest[extraAt]);
    }
}

}  // namespace

ServerPermissions PermissionsIn(std::span<const std::uint8_t> stream,
                                std::string const& clientDirectory) {
    ServerPermissions permissions;
    for (std::span<const std::uint8_t> const frame : wire::SplitFrames(stream).frames) {
        if (frame.size() > 11 && frame[2] == wire::kUpdateFrame && frame[11] == 9) {
            AllowEntries(frame, clientDirectory, permissions);
            continue;
        }
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
