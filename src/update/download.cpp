#include "update/download.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/directory.h"
#include "base/file_names.h"
#include "checksum/checksum.h"

namespace qm::update {

int Download::RemoveLeftovers(std::string const& directory) {
    std::optional<base::Directory> const opened = base::Directory::Open(directory);
    if (!opened) {
        return 0;
    }
    int removed = opened->RemoveLeftovers(kDownloadPrefix, base::kTemporarySuffixLength);
    // What the platform's own replacements left (on Windows, targets in use set aside); one that
    // is still in use stays for a later run.
    for (std::string_view const prefix : base::PlatformWorkingNames()) {
        removed += opened->RemoveLeftovers(prefix, base::kTemporarySuffixLength);
    }
    return removed;
}

std::optional<Download> Download::Begin(std::string const& targetPath) {
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create(targetPath, kDownloadPrefix);
    if (!file) {
        return std::nullopt;
    }
    return Download(std::move(*file), false);
}

std::optional<Download> Download::Resume(std::string const& targetPath,
                                         std::string const& partialPath, std::uint64_t keptBytes) {
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::OpenNamed(targetPath, partialPath);
    if (!file) {
        return std::nullopt;
    }
    Download download(std::move(*file), true);
    std::optional<std::uint64_t> const size = download.file_.Size();
    if (!size) {
        return std::nullopt;
    }
    std::uint64_t const there = *size;
    if (!download.file_.Truncate(there < keptBytes ? 0 : keptBytes) ||
        !download.TakeKept(there < keptBytes ? 0 : keptBytes)) {
        download.Discard();
        return std::nullopt;
    }
    return download;
}

Download::Download(base::ReplacementFile file, bool resumable)
    : file_(std::move(file)), resumable_(resumable), crcState_(checksum::kCrcInitial) {}

// Reads through the write block, which holds nothing yet: a download that keeps nothing (the
// start of every resumable one) allocates nothing more.
bool Download::TakeKept(std::uint64_t length) {
    base::AlignedBuffer const& buffer = block_;
    while (bytesWritten_ < length) {
        std::size_t const wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer.size(), length - bytesWritten_));
        std::size_t const got = file_.ReadAt(buffer.span().first(wanted), bytesWritten_);
        if (got == 0) {
            return false;
        }
        crcState_ = checksum::Crc32Update(crcState_, buffer.span().first(got));
        bytesWritten_ += got;
    }
    return true;
}

bool Download::WriteGathered() {
    bool const written = file_.Write(block_.span().first(gathered_));
    gathered_ = 0;
    return written;
}

bool Download::Append(std::span<const std::uint8_t> data) {
    if (gathered_ + data.size() > kDownloadWriteBlock && !WriteGathered()) {
        return false;
    }
    if (data.size() >= kDownloadWriteBlock) {
        if (!file_.Write(data)) {
            return false;
        }
    } else if (!data.empty()) {
        std::memcpy(block_.data() + gathered_, data.data(), data.size());
        gathered_ += data.size();
    }
    crcState_ = checksum::Crc32Update(crcState_, data);
    bytesWritten_ += data.size();
    return true;
}

Download::Result Download::Install(std::uint32_t expectedCrc) {
    return InstallAt(expectedCrc, file_.targetPath());
}

Download::Result Download::InstallAt(std::uint32_t expectedCrc, std::string const& destination) {
    if (checksum::Crc32Final(crcState_) != expectedCrc) {
        Discard();
        return Result::ChecksumMismatch;
    }
    if (!WriteGathered()) {
        Discard();
        return Result::WriteFailed;
    }
    mode_t const mode = base::ReplacementMode(file_.targetPath(), base::DefaultFileMode());
    switch (file_.Commit(mode, destination)) {
        case base::ReplacementFile::Outcome::Replaced:
            return Result::Installed;
        case base::ReplacementFile::Outcome::WriteFailed:
            return Result::WriteFailed;
        case base::ReplacementFile::Outcome::RenameFailed:
            return Result::RenameFailed;
    }
    return Result::WriteFailed;
}

void Download::Suspend() {
    if (file_.temporaryPath().empty()) {
        return;  // installed, discarded, suspended, or moved away
    }
    if (!resumable_) {
        return Discard();
    }
    int const saved = errno;
    // What is kept is what reached the file; a block that cannot be written is simply lost.
    WriteGathered();
    file_.Keep();
    errno = saved;
}

void Download::Discard() {
    gathered_ = 0;
    file_.Discard();
}

}  // namespace qm::update
