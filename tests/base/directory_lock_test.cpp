// The run lock: one holder at a time, nothing written into the directory, and a holder that is
// killed gives it up.
#include "base/directory_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/temp_dir.h"

namespace qm::base {
namespace {

// A child process that takes the lock, says so on a pipe, and waits to be killed.
class LockHoldingChild {
  public:
    explicit LockHoldingChild(std::string const& path) {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            std::optional<DirectoryLock> lock = DirectoryLock::TryLock(path);
            char const held = lock ? 'y' : 'n';
            [[maybe_unused]] ssize_t const written = ::write(ends[1], &held, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ends[1]);
        char held = 0;
        EXPECT_EQ(::read(ends[0], &held, 1), 1);
        held_ = held == 'y';
        ::close(ends[0]);
    }
    ~LockHoldingChild() { Kill(); }

    bool held() const { return held_; }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

TEST(DirectoryLock, OneHolderAtATimeAndAKilledHolderLetsGo) {
    test::TempDir dir;
    LockHoldingChild child(".");
    ASSERT_TRUE(child.held());
    errno = 0;
    EXPECT_FALSE(DirectoryLock::TryLock(".").has_value());
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_TRUE(std::filesystem::is_empty(".")) << "the lock wrote into the directory";

    child.Kill();
    std::optional<DirectoryLock> lock = DirectoryLock::TryLock(".");
    EXPECT_TRUE(lock.has_value());
    LockHoldingChild second(".");
    EXPECT_FALSE(second.held()) << "a second holder while the first lives";
    lock.reset();
    second.Kill();  // a forked child holds the parent's descriptors until it goes
    LockHoldingChild third(".");
    EXPECT_TRUE(third.held()) << "the lock outlived its holder";
}

TEST(DirectoryLock, AMissingDirectoryCannotBeLocked) {
    test::TempDir dir;
    EXPECT_FALSE(DirectoryLock::TryLock("no-such-directory").has_value());
}

}  // namespace
}  // namespace qm::base
