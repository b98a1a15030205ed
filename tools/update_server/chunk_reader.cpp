#include "update_server/chunk_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "update_server/release_scan.h"

namespace qm::server {

std::optional<std::string> ChunkReader::Open(std::filesystem::path const& root,
                                             ReleaseFile const& file) {
    if (fd_.valid() && openPath_ == file.path) {
        return std::nullopt;
    }
    Close();
    base::UniqueFd opened(::open((root / file.path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!opened.valid() || ::fstat(opened.get(), &status) != 0) {
        return std::string(std::strerror(errno));
    }
    // Its chunks would mix two versions of the file; a release is published into a new
    // directory instead.
    if (file.identity.inode != 0 && !(IdentityOf(status) == file.identity)) {
        return std::string("the file changed since the release was scanned");
    }
    fd_ = std::move(opened);
    openPath_ = file.path;
    return std::nullopt;
}

void ChunkReader::Close() {
    fd_.Reset();
    openPath_.clear();
}

Outcome<std::span<const std::uint8_t>> ChunkReader::Read(std::filesystem::path const& root,
                                                         ReleaseFile const& file,
                                                         std::uint32_t index) {
    using Result = Outcome<std::span<const std::uint8_t>>;
    std::uint64_t const offset = std::uint64_t{index} * update::kChunkDataMax;
    if (offset >= file.size) {
        return Result::Success({});
    }
    if (auto problem = Open(root, file)) {
        return Result::Failure(*problem);
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
            return Result::Failure(std::strerror(errno));
        }
        if (count == 0) {
            break;  // the file shrank since the scan; the updater's checksum check will tell
        }
        got += static_cast<std::size_t>(count);
    }
    return Result::Success(std::span<const std::uint8_t>(buffer_.data(), got));
}

}  // namespace qm::server
