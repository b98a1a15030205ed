#include "checksum/crc32_read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qm::checksum {

namespace {

int Descriptor(base::NativeHandle const& file) {
    return static_cast<int>(file.get());
}

}  // namespace

ReadOnlyFile::ReadOnlyFile(std::string const& path)
    : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

std::optional<std::uint64_t> ReadOnlyFile::RegularFileSize() const {
    struct stat status {};
    if (::fstat(Descriptor(file_), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

void ReadOnlyFile::AdviseSequentialReading() const {
    ::posix_fadvise(Descriptor(file_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::size_t ReadOnlyFile::ReadSome(std::span<std::uint8_t> buffer) const {
    for (;;) {
        ssize_t const got = ::read(Descriptor(file_), buffer.data(), buffer.size());
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

std::size_t ReadOnlyFile::ReadSomeAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
    return base::ReadNativeAt(file_.get(), buffer, offset);
}

bool ReadOnlyFile::SeekTo(std::uint64_t offset) const {
    return ::lseek(Descriptor(file_), static_cast<off_t>(offset), SEEK_SET) ==
           static_cast<off_t>(offset);
}

}  // namespace qm::checksum
