#include "update_server/chunk_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qm::server {

bool ChunkReader::Open(std::filesystem::path const& root, ReleaseFile const& file) {
    if (fd_.valid() && openPath_ == file.path) {
        return true;
    }
    Close();
    fd_ = base::UniqueFd(::open((root / file.path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd_.valid()) {
        return false;
    }
    openPath_ = file.path;
    return true;
}

void ChunkReader::Close() {
    fd_.Reset();
    openPath_.clear();
}

std::optional<std::span<const std::uint8_t>> ChunkReader::Read(std::filesystem::path const& root,
                                                               ReleaseFile const& file,
                                                               std::uint32_t index) {
    std::uint64_t const offset = std::uint64_t{index} * update::kChunkDataMax;
    if (offset >= file.size) {
        return std::span<const std::uint8_t>();
    }
    if (!Open(root, file)) {
        return std::nullopt;
    }
    auto const wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(file.size - offset, update::kChunkDataMax));
    std::size_t got = 0;
    while (got < wanted) {
        ssize_t const count = ::pread(fd_.get(), buffer_.data() + got, wanted - got,
                                      static_cast<off_t>(offset + got));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;  // the file shrank since the scan; the updater's checksum check will tell
        }
        got += static_cast<std::size_t>(count);
    }
    return std::span<const std::uint8_t>(buffer_.data(), got);
}

}  // namespace qm::server
