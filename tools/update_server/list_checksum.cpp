#include "update_server/list_checksum.h"

#include <span>
#include <string>

#include "checksum/checksum.h"

namespace qm::server {
namespace {

// Fields are separated by a tab and entries end with a newline; neither can occur in a path
// that passed the local-path rule, so the listing reads back one way only.
std::string CanonicalListing(FileList const& list) {
    std::string listing;
    for (ReleaseFile const& file : list.files) {
        listing += "file\t" + file.path + '\t' + std::to_string(file.checksum) + '\t' +
                   std::to_string(file.size) + '\n';
    }
    for (std::string const& path : list.deletions) {
        listing += "delete\t" + path + '\n';
    }
    return listing;
}

}  // namespace

std::uint32_t ListChecksum(FileList const& list) {
    std::string const listing = CanonicalListing(list);
    return checksum::Crc32(std::span<const std::uint8_t>(
        reinterpret_cast<std::uint8_t const*>(listing.data()), listing.size()));
}

}  // namespace qm::server
