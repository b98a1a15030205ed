#include "faults/fleet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/profile_text.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The inode of the updater's end of the connection from local port `port` to `address`:34005.
std::optional<std::string> SocketInode(std::string const& address, std::uint16_t port) {
    in_addr remote{};
    ::inet_pton(AF_INET, address.c_str(), &remote);
    char remoteText[32];
    std::snprintf(remoteText, sizeof remoteText, "%08X:%04X", remote.s_addr, kProtocolPort);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, rem, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> rem >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        std::size_t const colon = local.find(':');
        if (colon == std::string::npos || rem != remoteText) {
            continue;
        }
        if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) {
            return inode;
        }
    }
    return std::nullopt;
}

// Which of `pids` holds the socket with `inode`.
pid_t OwnerOf(std::string const& inode, std::vector<pid_t> const& pids) {
    std::string const wanted = "socket:[" + inode + "]";
    for (pid_t pid : pids) {
        std::error_code error;
        for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
             !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (fs::read_symlink(it->path(), ignored).string() == wanted) {
                return pid;
            }
        }
    }
    return -1;
}

void SetTimeout(int fd, int option, int seconds) {
    timeval limit{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
}

// Sends the case's bytes, closes for writing unless told to hold, and reads until the updater has
// closed its end (bounded), so that the updater is never hit by a reset.
void Serve(int connection, FleetCase const& served) {
    SetTimeout(connection, SO_SNDTIMEO, 10);
    SetTimeout(connection, SO_RCVTIMEO, 1);
    SendAll(connection, served.bytes);
    if (served.closeAfterSending) {
        ::shutdown(connection, SHUT_WR);
    }
    auto const deadline = Clock::now() + std::chrono::seconds(45);
    while (Clock::now() < deadline) {
        std::uint8_t sink[4096];
        ssize_t const got = ::recv(connection, sink, sizeof sink, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    ::close(connection);
}

class Listener {
  public:
    Listener(std::string address, std::vector<FleetCase> const& cases)
        : address_(std::move(address)), cases_(cases) {
        fd_ = ListenOn(address_, 128);
        if (fd_ >= 0) {
            thread_ = std::thread([this] { AcceptAll(); });
        }
    }
    ~Listener() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        for (Connection& connection : connections_) {
            connection.thread.join();
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool listening() const { return fd_ >= 0; }

    void Add(pid_t pid) {
        std::lock_guard lock(mutex_);
        running_.push_back(pid);
    }
    // The case served to `pid`, removing it from the running ones.
    std::optional<std::size_t> Remove(pid_t pid) {
        std::lock_guard lock(mutex_);
        std::erase(running_, pid);
        auto found = served_.find(pid);
        if (found == served_.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    std::vector<std::string> Problems() {
        std::lock_guard lock(mutex_);
        return problems_;
    }

  private:
    void AcceptAll() {
        while (!stop_) {
            JoinFinished();
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            int const connection =
                ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
            if (connection < 0) {
                continue;
            }
            pid_t const owner = FindOwner(ntohs(peer.sin_port));
            std::lock_guard lock(mutex_);
            if (owner < 0 || next_ >= cases_.size()) {
                problems_.push_back(
                    "a connection from port " + std::to_string(ntohs(peer.sin_port)) +
                    (owner < 0 ? " that no updater of this test owns" : " beyond the last case"));
                ::close(connection);
                continue;
            }
            std::size_t const index = next_++;
            served_[owner] = index;
            auto done = std::make_shared<std::atomic<bool>>(false);
            connections_.push_back({std::thread([connection, &served = cases_[index], done] {
                                        Serve(connection, served);
                                        *done = true;
                                    }),
                                    done});
        }
    }

    void JoinFinished() {
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (*it->done) {
                it->thread.join();
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }

    pid_t FindOwner(std::uint16_t port) {
        auto const deadline = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < deadline) {
            if (auto inode = SocketInode(address_, port)) {
                std::vector<pid_t> pids;
                {
                    std::lock_guard lock(mutex_);
                    pids = running_;
                }
                if (pid_t owner = OwnerOf(*inode, pids); owner > 0) {
                    return owner;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    std::string address_;
    std::vector<FleetCase> const& cases_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<pid_t> running_;
    std::map<pid_t, std::size_t> served_;
    std::size_t next_ = 0;
    std::vector<std::string> problems_;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Connection> connections_;
};

struct Slot {
    std::unique_ptr<ClientDir> dir;
    std::unique_ptr<Process> updater;
    Clock::time_point started;
};

}  // namespace

void RunFleet(std::string const& address, std::vector<FleetCase> const& cases, std::size_t inFlight,
              PrepareRun const& prepare, CheckRun const& check, Millis runTimeout) {
    Listener listener(address, cases);
    ASSERT_TRUE(listener.listening()) << "cannot listen on " << address;
    std::vector<Slot> slots;
    std::size_t started = 0;
    std::size_t finished = 0;
    while (finished < cases.size()) {
        while (slots.size() < inFlight && started < cases.size()) {
            Slot slot{std::make_unique<ClientDir>(), nullptr, Clock::now()};
            WriteUpdaterConfig(slot.dir->path(), address);
            prepare(*slot.dir);
            slot.updater = std::make_unique<Process>(UpdaterOptions(slot.dir->path()));
            listener.Add(slot.updater->pid());
            slots.push_back(std::move(slot));
            ++started;
        }
        bool any = false;
        for (auto it = slots.begin(); it != slots.end();) {
            std::optional<Ending> ending = it->updater->PollExit();
            if (!ending && Clock::now() - it->started > runTimeout) {
                ending = it->updater->WaitForExit(Millis(0));  // kills it and records the failure
            }
            if (!ending) {
                ++it;
                continue;
            }
            any = true;
            std::optional<std::size_t> const index = listener.Remove(it->updater->pid());
            if (index) {
                check(*index, *it->dir, *it->updater, *ending);
            } else {
                ADD_FAILURE() << "an updater ended without having been served\n"
                              << it->updater->Transcript();
            }
            ++finished;
            it = slots.erase(it);
        }
        if (!any) {
            std::this_thread::sleep_for(Millis(5));
        }
    }
    for (std::string const& problem : listener.Problems()) {
        ADD_FAILURE() << problem;
    }
}

}  // namespace qm::test
