#include "update/download.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/directory.h"
#include "checksum/checksum.h"

namespace qm::update {

int Download::RemoveLeftovers(std::string const& directory) {
    std::optional<base::Directory> const opened = base::Directory::Open(directory);
    return opened ? opened->RemoveLeftovers(kDownloadPrefix, base::kTemporarySuffixLength) : 0;
}

std::optional<Download> Download::Begin(std::string const& targetPath) {
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create(targetPath, kDownloadPrefix);
    if (!file) {
        return std::nullopt;
    }
    return Download(std::move(*file));
}

Download::Download(base::ReplacementFile file)
    : file_(std::move(file)), block_(kDownloadWriteBlock), crcState_(checksum::kCrcInitial) {}

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
    if (checksum::Crc32Final(crcState_) != expectedCrc) {
        file_.Discard();
        return Result::ChecksumMismatch;
    }
    if (!WriteGathered()) {
        file_.Discard();
        return Result::WriteFailed;
    }
    mode_t const mode = base::ReplacementMode(file_.targetPath(), base::DefaultFileMode());
    switch (file_.Commit(mode)) {
        case base::ReplacementFile::Outcome::Replaced:
            return Result::Installed;
        case base::ReplacementFile::Outcome::WriteFailed:
            return Result::WriteFailed;
        case base::ReplacementFile::Outcome::RenameFailed:
            return Result::RenameFailed;
    }
    return Result::WriteFailed;
}

}  // namespace qm::update
