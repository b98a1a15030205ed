#include "base/replacement_file.h"

#include <utility>

namespace qm::base {

ReplacementFile::ReplacementFile(NativeHandle file, std::string target, std::string temporary)
    : file_(std::move(file)),
      targetPath_(std::move(target)),
      temporaryPath_(std::move(temporary)) {}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : file_(std::move(other.file_)),
      targetPath_(std::move(other.targetPath_)),
      temporaryPath_(std::exchange(other.temporaryPath_, {})),
      unflushed_(std::exchange(other.unflushed_, 0)) {}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
    if (this != &other) {
        Discard();
        file_ = std::move(other.file_);
        targetPath_ = std::move(other.targetPath_);
        temporaryPath_ = std::exchange(other.temporaryPath_, {});
        unflushed_ = std::exchange(other.unflushed_, 0);
    }
    return *this;
}

ReplacementFile::Outcome ReplacementFile::Commit(mode_t mode) {
    return Commit(mode, targetPath_);
}

void ReplacementFile::Keep() {
    file_.Reset();
    temporaryPath_.clear();
}

}  // namespace qm::base
