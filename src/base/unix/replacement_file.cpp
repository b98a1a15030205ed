#include "base/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/directory.h"

namespace qm::base {
namespace {

int Descriptor(NativeHandle const& file) {
    return static_cast<int>(file.get());
}

}  // namespace

std::optional<ReplacementFile> ReplacementFile::Create(std::string target,
                                                       std::string_view prefix) {
    std::string name = DirectoryOf(target) + "/";
    name.append(prefix).append(kTemporarySuffixLength, 'X');
    NativeHandle fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    return ReplacementFile(std::move(fd), std::move(target), std::move(name));
}

std::optional<ReplacementFile> ReplacementFile::OpenNamed(std::string target, std::string path) {
    NativeHandle fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat status {};
    if (!fd.valid() || ::fstat(Descriptor(fd), &status) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return std::nullopt;
    }
    if (::lseek(Descriptor(fd), 0, SEEK_END) < 0) {
        return std::nullopt;
    }
    return ReplacementFile(std::move(fd), std::move(target), std::move(path));
}

void ReplacementFile::Discard() {
    int const saved = errno;
    file_.Reset();
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
    errno = saved;
}

bool ReplacementFile::Truncate(std::uint64_t length) {
    auto const offset = static_cast<off_t>(length);
    return ::ftruncate(Descriptor(file_), offset) == 0 &&
           ::lseek(Descriptor(file_), offset, SEEK_SET) == offset;
}

bool ReplacementFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t const written = ::write(Descriptor(file_), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
        unflushed_ += static_cast<std::uint64_t>(written);
    }
    if (unflushed_ >= kWriteBackStep) {
        // Start writing what is dirty now rather than all of it in the flush before the rename,
        // where a large file would keep the user waiting (for 256 MiB, a third of a second
        // here). It does not wait; a failure shows in that flush.
        ::sync_file_range(Descriptor(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
        unflushed_ = 0;
    }
    return true;
}

ReplacementFile::Outcome ReplacementFile::Commit(mode_t mode, std::string const& destination) {
    if (::fchmod(Descriptor(file_), mode) != 0 || ::fsync(Descriptor(file_)) != 0 ||
        !file_.Reset()) {
        Discard();
        return Outcome::WriteFailed;
    }
    if (::rename(temporaryPath_.c_str(), destination.c_str()) != 0) {
        Discard();
        return Outcome::RenameFailed;
    }
    temporaryPath_.clear();
    // The new file is in place whether or not this succeeds; it only costs durability.
    if (std::optional<Directory> const directory = Directory::Open(DirectoryOf(destination))) {
        directory->Sync();
    }
    return Outcome::Replaced;
}

std::size_t ReplacementFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
    return ReadNativeAt(file_.get(), buffer, offset);
}

std::optional<std::uint64_t> ReplacementFile::Size() const {
    struct stat status {};
    if (::fstat(Descriptor(file_), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

mode_t ReplacementMode(std::string const& target, mode_t fallback) {
    struct stat old {};
    if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        return old.st_mode & 07777;
    }
    return fallback;
}

mode_t DefaultFileMode() {
    mode_t const mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace qm::base
