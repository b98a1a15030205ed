// Whole frame streams as a server would send them, built from the test side's own wire layouts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "e2e/wire.h"

namespace qm::faults {

inline e2e::Bytes Joined(std::initializer_list<e2e::Bytes> frames) {
    e2e::Bytes stream;
    for (e2e::Bytes const& frame : frames) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// The WELCOME and the announcement of the update server, for the default peers.
inline e2e::Bytes Opening(e2e::Peers const& peers = {}) {
    return Joined({e2e::Welcome(peers.welcomeSender, peers.client),
                   e2e::ServerAnnouncement(peers.server, peers.client)});
}

inline e2e::Bytes Description(std::uint8_t action, std::uint32_t token, std::string_view localPath,
                              std::string_view remoteName, std::uint32_t crc,
                              e2e::Peers const& peers = {}) {
    return e2e::FileDescription({.sender = peers.fileSender,
                                 .destination = peers.client,
                                 .action = action,
                                 .fileToken = token,
                                 .localPath = e2e::TextField(64, localPath),
                                 .remoteName = e2e::RemoteNameField(remoteName),
                                 .crc = crc});
}

inline e2e::Bytes Completion(e2e::Peers const& peers = {}) {
    return e2e::ListSummary({.sender = peers.server, .destination = peers.client, .complete = 1});
}

}  // namespace qm::faults
