// The tools of the fault tests checked on cases worked out by hand: the power-cut model replaying
// a trace (what a cut keeps of unflushed data, creations and renames), and the link emulator's
// cut and silence.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/addresses.h"
#include "support/link_emulator.h"
#include "support/local_sockets.h"
#include "support/power_cut.h"
#include "support/syscall_trace.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace {

// A string as strace -xx writes it.
std::string Hex(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char const c : text) {
        auto const byte = static_cast<unsigned char>(c);
        out.append("\\x").append(1, kDigits[byte >> 4]).append(1, kDigits[byte & 15]);
    }
    return out + "\"";
}

// A descriptor as strace -y -xx writes it.
std::string Fd(int fd, std::string_view path) {
    std::string const quoted = Hex(path);
    return (fd < 0 ? std::string("AT_FDCWD") : std::to_string(fd)) + "<" +
           quoted.substr(1, quoted.size() - 2) + ">";
}

// The file replacement every careful program makes: a temporary file written, flushed, renamed
// over the old one, the directory flushed; and a second file written but never flushed.
std::vector<TracedCall> Replacement() {
    std::string const log =
        "7 openat(" + Fd(-1, "/run") + ", " + Hex(".a.tmp") + ", O_RDWR|O_CREAT|O_EXCL, 0600) = 3" +
        Fd(3, "/run/.a.tmp").substr(1) + "\n" + "7 write(" + Fd(3, "/run/.a.tmp") + ", " +
        Hex("new a") + ", 5) = 5\n" + "7 fsync(" + Fd(3, "/run/.a.tmp") + " <unfinished ...>\n" +
        "8 +++ exited with 0 +++\n" + "7 <... fsync resumed>)  = 0\n" + "7 close(" +
        Fd(3, "/run/.a.tmp") + ") = 0\n" + "7 rename(" + Hex(".a.tmp") + ", " + Hex("a.txt") +
        ") = 0\n" + "7 openat(" + Fd(-1, "/run") + ", " + Hex("b.txt") +
        ", O_WRONLY|O_CREAT|O_TRUNC, 0644) = 4" + Fd(4, "/run/b.txt").substr(1) + "\n" +
        "7 write(" + Fd(4, "/run/b.txt") + ", " + Hex("b") + ", 1) = 1\n" + "7 openat(" +
        Fd(-1, "/run") + ", " + Hex(".") + ", O_RDONLY|O_DIRECTORY) = 5" + Fd(5, "/run").substr(1) +
        "\n" + "7 fsync(" + Fd(5, "/run") + ") = 0\n" + "7 unlink(" + Hex("missing") +
        ") = -1 ENOENT (No such file or directory)\n";
    return ReadSyscallTrace(log);
}

TEST(FaultSupport, APowerCutKeepsWhatWasFlushedAndMayLoseTheRest) {
    TempDir start({.enter = false});
    start.Write("a.txt", "old a", 0644);
    std::vector<TracedCall> const calls = Replacement();
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[2].name, "fsync");  // joined again, at the place it ended
    EXPECT_EQ(calls[9].error, "ENOENT");
    PowerCutReplay replay(start.path(), "/run", 022);
    std::mt19937 random(1);
    auto const files = [&](PowerCutLoss loss) {
        std::map<std::string, std::string> seen;
        for (auto const& [path, entry] : replay.AfterCut(loss, random)) {
            seen[path] = entry.content;
        }
        return seen;
    };
    using Files = std::map<std::string, std::string>;
    struct Step {
        Files allLost;  // what the disk holds after the call if everything unflushed is lost
        Files nothingLost;
    };
    Step const after[] = {
        {{{"a.txt", "old a"}}, {{"a.txt", "old a"}, {".a.tmp", ""}}},
        {{{"a.txt", "old a"}}, {{"a.txt", "old a"}, {".a.tmp", "new a"}}},
        // Flushed data, but the name it has is not flushed yet.
        {{{"a.txt", "old a"}}, {{"a.txt", "old a"}, {".a.tmp", "new a"}}},
        {{{"a.txt", "old a"}}, {{"a.txt", "new a"}}},
        {{{"a.txt", "old a"}}, {{"a.txt", "new a"}, {"b.txt", ""}}},
        {{{"a.txt", "old a"}}, {{"a.txt", "new a"}, {"b.txt", "b"}}},
        {{{"a.txt", "old a"}}, {{"a.txt", "new a"}, {"b.txt", "b"}}},
        // The directory's flush keeps the rename and b.txt's name, not b.txt's bytes.
        {{{"a.txt", "new a"}, {"b.txt", ""}}, {{"a.txt", "new a"}, {"b.txt", "b"}}},
    };
    bool const changes[] = {true, true, true, false, true, true, true, false, true, false};
    for (std::size_t i = 0, step = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(replay.Apply(calls[i]), changes[i]);
        if (calls[i].name == "close" || calls[i].error == "ENOENT") {
            continue;
        }
        EXPECT_EQ(files(PowerCutLoss::AllUnflushed), after[step].allLost);
        EXPECT_EQ(files(PowerCutLoss::NothingLost), after[step].nothingLost);
        ++step;
    }
}

TEST(FaultSupport, TheLinkCutsEveryConnectionAndFallsSilentOnce) {
    std::string const server = LoopbackAddress(TestAddress::SupportLinkServer);
    int const listener = ListenOn(server, 4);
    ASSERT_GE(listener, 0);
    std::vector<std::uint8_t> const block(10'000, 0x42);
    std::thread source([&] {
        for (int connection = 0; connection < 2; ++connection) {
            int const peer = ::accept(listener, nullptr, nullptr);
            SendAll(peer, block);
            ::shutdown(peer, SHUT_WR);
            char byte = 0;
            ::recv(peer, &byte, 1, 0);  // until the link closes it
            ::close(peer);
        }
    });
    LinkOptions options{LoopbackAddress(TestAddress::SupportLink), server};
    options.cutEveryToClient = 3000;
    options.silentAfter = 1000;
    options.silence = std::chrono::milliseconds(600);
    LinkEmulator link(options);
    ASSERT_TRUE(link.listening());
    for (int connection = 0; connection < 2; ++connection) {
        SCOPED_TRACE(connection);
        int const client = ConnectTo(options.listenAddress);
        ASSERT_GE(client, 0);
        timeval const patience{5, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        std::size_t received = 0;
        auto const began = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> buffer(65536);
        for (ssize_t got = 1; got > 0;
             received += static_cast<std::size_t>(std::max<ssize_t>(got, 0))) {
            got = ::recv(client, buffer.data(), buffer.size(), 0);
        }
        auto const took = std::chrono::steady_clock::now() - began;
        EXPECT_EQ(received, 3000u);
        // Only the first connection meets the silence, which begins after its first 1000 bytes.
        EXPECT_EQ(took >= std::chrono::milliseconds(500), connection == 0);
        ::close(client);
    }
    ::shutdown(listener, SHUT_RDWR);
    source.join();
    ::close(listener);
}

}  // namespace
}  // namespace qm::test
