// Reads the chunks of release files from disk as they are requested: one file open at a time,
// read with pread into one buffer that every chunk reuses, so no file is ever held whole.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "base/aligned_buffer.h"
#include "base/unix/unique_fd.h"
#include "update/messages.h"
#include "update_server/outcome.h"
#include "update_server/release_catalog.h"

namespace qm::server {

class ChunkReader {
  public:
    // The bytes of chunk `index` of `file` (below `root`): from index * 2027 on, at most 2027,
    // never past the size the file had when it was scanned; empty past the end. A failure says
    // why: the file cannot be opened or read, or it is no longer the file that was scanned (it
    // was replaced or written to since). The view is valid until the next call.
    Outcome<std::span<const std::uint8_t>> Read(std::filesystem::path const& root,
                                                ReleaseFile const& file, std::uint32_t index);

    // Closes the open file, if any.
    void Close();

  private:
    std::optional<std::string> Open(std::filesystem::path const& root, ReleaseFile const& file);

    base::UniqueFd fd_;
    std::string openPath_;
    alignas(base::kPageSize) std::array<std::uint8_t, update::kChunkDataMax> buffer_{};
};

}  // namespace qm::server
