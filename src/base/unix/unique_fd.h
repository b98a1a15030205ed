// Sole owner of a file descriptor: it is closed when the owner goes, unless it was released.
#pragma once

#include <unistd.h>

#include <utility>

namespace qm::base {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(UniqueFd const&) = delete;
    UniqueFd& operator=(UniqueFd const&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor to a new owner; this one then holds none.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and takes `fd`. False when that close failed.
    bool Reset(int fd = -1) {
        int const old = std::exchange(fd_, fd);
        return old < 0 || ::close(old) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace qm::base
