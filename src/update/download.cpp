#include "update/download.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "checksum/checksum.h"

namespace qm::update {
namespace {

// The mode a new file gets from open(2) with 0666 under the process's umask.
mode_t DefaultFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Permission bits for the installed file: those of the file it replaces, or the default.
mode_t ModeForTarget(std::string const& targetPath) {
    struct stat old {};
    if (lstat(targetPath.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        return old.st_mode & 07777;
    }
    return DefaultFileMode();
}

// Makes a completed rename durable; failures only cost durability, not correctness.
void SyncDirectory(std::string const& directory) {
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

std::string Download::DirectoryOf(std::string const& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

int Download::RemoveLeftovers(std::string const& directory) {
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return 0;
    }
    std::string_view const prefix = kDownloadPrefix;
    int removed = 0;
    while (dirent* entry = readdir(listing)) {
        std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        struct stat info {};
        if (fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && unlinkat(dirfd(listing), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    closedir(listing);
    return removed;
}

std::optional<Download> Download::Begin(std::string const& targetPath) {
    std::string pattern = DirectoryOf(targetPath) + "/" + kDownloadPrefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    return Download(fd, targetPath, std::string(name.data()));
}

Download::Download(int fd, std::string targetPath, std::string tempPath)
    : fd_(fd),
      block_(std::make_unique_for_overwrite<std::uint8_t[]>(kDownloadWriteBlock)),
      targetPath_(std::move(targetPath)),
      tempPath_(std::move(tempPath)),
      crcState_(checksum::kCrcInitial) {}

Download::Download(Download&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      block_(std::move(other.block_)),
      gathered_(std::exchange(other.gathered_, 0)),
      targetPath_(std::move(other.targetPath_)),
      tempPath_(std::exchange(other.tempPath_, {})),
      crcState_(other.crcState_),
      bytesWritten_(other.bytesWritten_) {}

Download& Download::operator=(Download&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::exchange(other.fd_, -1);
        block_ = std::move(other.block_);
        gathered_ = std::exchange(other.gathered_, 0);
        targetPath_ = std::move(other.targetPath_);
        tempPath_ = std::exchange(other.tempPath_, {});
        crcState_ = other.crcState_;
        bytesWritten_ = other.bytesWritten_;
    }
    return *this;
}

Download::~Download() {
    Discard();
}

void Download::Discard() {
    int savedErrno = errno;
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    errno = savedErrno;
}

bool Download::WriteAll(std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        ssize_t written = write(fd_, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data = data.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool Download::WriteGathered() {
    bool written = WriteAll({block_.get(), gathered_});
    gathered_ = 0;
    return written;
}

bool Download::Append(std::span<const std::uint8_t> data) {
    if (gathered_ + data.size() > kDownloadWriteBlock && !WriteGathered()) {
        return false;
    }
    if (data.size() >= kDownloadWriteBlock) {
        if (!WriteAll(data)) {
            return false;
        }
    } else if (!data.empty()) {
        std::memcpy(block_.get() + gathered_, data.data(), data.size());
        gathered_ += data.size();
    }
    crcState_ = checksum::Crc32Update(crcState_, data);
    bytesWritten_ += data.size();
    return true;
}

Download::Result Download::Install(std::uint32_t expectedCrc) {
    if (checksum::Crc32Final(crcState_) != expectedCrc) {
        Discard();
        return Result::ChecksumMismatch;
    }
    if (!WriteGathered() || fchmod(fd_, ModeForTarget(targetPath_)) != 0 || fsync(fd_) != 0) {
        Discard();
        return Result::WriteFailed;
    }
    int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) {
        Discard();
        return Result::WriteFailed;
    }
    if (rename(tempPath_.c_str(), targetPath_.c_str()) != 0) {
        Discard();
        return Result::RenameFailed;
    }
    tempPath_.clear();
    SyncDirectory(DirectoryOf(targetPath_));
    return Result::Installed;
}

}  // namespace qm::update
