// The run lock: one holder at a time, nothing written into the directory, and a holder that is
// killed gives it up.
#include "base/directory_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
            DirectoryLock::Attempt const lock = DirectoryLock::TryLock(path);
            char const held = std::holds_alternative<DirectoryLock>(lock) ? 'y' : 'n';
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

bool Held(DirectoryLock::Attempt const& attempt) {
    return std::holds_alternative<DirectoryLock>(attempt);
}

TEST(DirectoryLock, OneHolderAtATimeAndAKilledHolderLetsGo) {
    test::TempDir dir;
    LockHoldingChild child(".");
    ASSERT_TRUE(child.held());
    DirectoryLock::Attempt const refused = DirectoryLock::TryLock(".");
    ASSERT_FALSE(Held(refused));
    EXPECT_TRUE(std::get<DirectoryLock::Refusal>(refused).heldElsewhere);
    EXPECT_TRUE(std::filesystem::is_empty(".")) << "the lock wrote into the directory";

    child.Kill();
    std::optional<DirectoryLock::Attempt> lock = DirectoryLock::TryLock(".");
    EXPECT_TRUE(Held(*lock));
    LockHoldingChild second(".");
    EXPECT_FALSE(second.held()) << "a second holder while the first lives";
    lock.reset();
    second.Kill();  // a forked child holds the parent's descriptors until it goes
    LockHoldingChild third(".");
    EXPECT_TRUE(third.held()) << "the lock outlived its holder";
}

TEST(DirectoryLock, ADirectoryThatCannotBeOpenedIsNoLockHeldElsewhere) {
    test::TempDir dir;
    DirectoryLock::Attempt const missing = DirectoryLock::TryLock("no-such-directory");
    ASSERT_FALSE(Held(missing));
    EXPECT_FALSE(std::get<DirectoryLock::Refusal>(missing).heldElsewhere);
    EXPECT_EQ(std::get<DirectoryLock::Refusal>(missing).reason, std::strerror(ENOENT));
}

}  // namespace
}  // namespace qm::base
