// The terminal window on a real pseudo-terminal.
#include "app/unix/terminal_view.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "net/unix/poll_event_loop.h"

namespace qm::app {
namespace {

using namespace std::chrono_literals;

// Both ends of a pseudo-terminal.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~PseudoTerminal() {
        close(slave_);
        close(master_);
    }
    int slave() const { return slave_; }
    void Type(std::string const& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Everything the program wrote so far.
    std::string Screen() {
        std::string seen;
        char buffer[4096];
        struct pollfd ready = {master_, POLLIN, 0};
        while (poll(&ready, 1, 50) > 0) {
            ssize_t count = read(master_, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            seen.append(buffer, static_cast<std::size_t>(count));
        }
        return seen;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
};

bool SameMode(struct termios const& a, struct termios const& b) {
    return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN];
}

TEST(TerminalView, DrawsTheWindowAndRestoresTheTerminal) {
    PseudoTerminal terminal;
    struct termios before {};
    ASSERT_EQ(tcgetattr(terminal.slave(), &before), 0);
    {
        net::PollEventLoop loop;
        TerminalView view(loop, terminal.slave(), terminal.slave(), -1);
        struct termios during {};
        tcgetattr(terminal.slave(), &during);
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
        view.Open();
        std::string screen = terminal.Screen();
        EXPECT_NE(screen.find("Checking your version ..."), std::string::npos);
        EXPECT_NE(screen.find("Unconnected"), std::string::npos);
        EXPECT_NE(screen.find("[ Abort !    :-( ]"), std::string::npos);
        // A status wider than the window is cut, never wrapped into the next line.
        std::string wide(200, 'w');
        view.ShowStatus(wide);
        view.Close();
        screen = terminal.Screen();
        EXPECT_NE(screen.find(std::string(56, 'w')), std::string::npos);
        EXPECT_EQ(screen.find(std::string(57, 'w')), std::string::npos);
    }
    struct termios after {};
    ASSERT_EQ(tcgetattr(terminal.slave(), &after), 0);
    EXPECT_TRUE(SameMode(before, after));
}

TEST(TerminalView, EscapeAndCtrlCCancelButCursorKeysDoNot) {
    struct Case {
        std::string keys;
        bool cancels;
    } cases[] = {{"\x1b", true}, {"\x03", true}, {"\x1b[A", false}, {"q", false}};
    for (auto const& c : cases) {
        PseudoTerminal terminal;
        net::PollEventLoop loop;
        TerminalView view(loop, terminal.slave(), terminal.slave(), -1);
        bool cancelled = false;
        view.SetCancelHandler([&] { cancelled = true; });
        view.Open();
        terminal.Type(c.keys);
        for (int turn = 0; turn < 20 && !cancelled; ++turn) {
            loop.RunOnce(10ms);
        }
        EXPECT_EQ(cancelled, c.cancels) << c.keys.size();
    }
}

TEST(TerminalView, MessageBoxWaitsForAKey) {
    PseudoTerminal terminal;
    net::PollEventLoop loop;
    TerminalView view(loop, terminal.slave(), terminal.slave(), -1);
    view.Open();
    terminal.Type("x\r");  // 'x' does not dismiss; Enter does
    view.ShowMessageBox("Network error", "connection lost");
    std::string screen = terminal.Screen();
    EXPECT_NE(screen.find("Network error"), std::string::npos);
    EXPECT_NE(screen.find("connection lost"), std::string::npos);
    EXPECT_NE(screen.find("[ OK ]"), std::string::npos);
}

TEST(TerminalView, WakeDescriptorDismissesAWaitingBox) {
    PseudoTerminal terminal;
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    ASSERT_EQ(write(wake[1], "x", 1), 1);
    net::PollEventLoop loop;
    TerminalView view(loop, terminal.slave(), terminal.slave(), wake[0]);
    alarm(10);  // a box that kept waiting would end the test program here
    view.ShowMessageBox("Program exit", "The user has canceled the operation.");
    alarm(0);
    close(wake[0]);
    close(wake[1]);
}

}  // namespace
}  // namespace qm::app
