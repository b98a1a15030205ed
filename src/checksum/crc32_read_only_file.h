// One file opened for reading, closed when the object goes; the reads a checksum pass needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/native_handle.h"

namespace qm::checksum {

class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(std::string const& path);
    ReadOnlyFile(ReadOnlyFile const&) = delete;
    ReadOnlyFile& operator=(ReadOnlyFile const&) = delete;

    bool IsOpen() const { return file_.valid(); }

    // The size of a regular file as it is now; none for anything else (a pipe, a directory).
    std::optional<std::uint64_t> RegularFileSize() const;

    // Tells the kernel the file is read once from start to end (a larger read-ahead).
    void AdviseSequentialReading() const;

    // Fills the front of `buffer`; the bytes read, 0 at the end of the file or on a read error.
    std::size_t ReadSome(std::span<std::uint8_t> buffer) const;

    // The same from `offset` on, without moving the file position (several threads may read).
    std::size_t ReadSomeAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const;

    // Moves the file position for ReadSome to `offset`; false when that fails.
    bool SeekTo(std::uint64_t offset) const;

  private:
    base::NativeHandle file_;
};

}  // namespace qm::checksum
