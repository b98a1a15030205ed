// The checksum of a file list: the CRC-32 of a canonical listing of its entries, one line per file
// (path, checksum, size) and per deletion (path), in list order. Any change to an entry, and any
// entry added or removed, changes the listing and so, but for a collision, the checksum.
#pragma once

#include <cstdint>

#include "update_server/release_catalog.h"

namespace qm::server {

std::uint32_t ListChecksum(FileList const& list);

}  // namespace qm::server
