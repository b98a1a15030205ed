#include "support/link_emulator.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>

#include "support/local_sockets.h"

namespace qm::test {
namespace {

using Clock = std::chrono::steady_clock;
// Bytes a delayed direction holds at most before it stops reading (TCP then holds the sender).
constexpr std::size_t kMostQueued = std::size_t{16} << 20;

void NoDelay(int fd) {
    int const on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

// One proxied connection: for each direction a reader, and for a delayed or limited link a
// writer that sends each block when it is due.
class LinkEmulator::Connection {
  public:
    Connection(LinkOptions const& options, int client, int server)
        : options_(options), client_(client), server_(server) {
        NoDelay(client_);
        NoDelay(server_);
        Start(toServer_, LinkDirection::ToServer, client_, server_);
        Start(toClient_, LinkDirection::ToClient, server_, client_);
    }
    ~Connection() {
        ::shutdown(client_, SHUT_RDWR);
        ::shutdown(server_, SHUT_RDWR);
        for (Flow* flow : {&toServer_, &toClient_}) {
            {
                std::lock_guard lock(flow->mutex);
                flow->stopped = true;
            }
            flow->changed.notify_all();
            for (std::thread* thread : {&flow->reader, &flow->writer}) {
                if (thread->joinable()) {
                    thread->join();
                }
            }
        }
        ::close(client_);
        ::close(server_);
    }
    Connection(Connection const&) = delete;
    Connection& operator=(Connection const&) = delete;

  private:
    struct Block {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;  // empty: the sender closed its side
    };
    struct Flow {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Block> queue;
        std::size_t queued = 0;
        bool stopped = false;
        std::thread reader;
        std::thread writer;
    };

    bool Paced() const { return options_.oneWayDelay.count() > 0 || options_.bytesPerSecond > 0; }

    void Start(Flow& flow, LinkDirection direction, int from, int to) {
        flow.reader =
            std::thread([this, &flow, direction, from, to] { Read(flow, direction, from, to); });
        if (Paced()) {
            flow.writer = std::thread([this, &flow, to] { Write(flow, to); });
        }
    }

    void Read(Flow& flow, LinkDirection direction, int from, int to) {
        std::array<std::uint8_t, 65536> buffer;
        for (;;) {
            ssize_t const got = ::recv(from, buffer.data(), buffer.size(), 0);
            Clock::time_point const at = Clock::now();
            std::span<const std::uint8_t> const bytes(buffer.data(), got > 0 ? got : 0);
            if (got > 0 && options_.tap) {
                options_.tap(direction, bytes, at);
            }
            if (!Paced()) {
                if (got <= 0 || !SendAll(to, bytes)) {
                    ::shutdown(to, SHUT_WR);
                    return;
                }
                continue;
            }
            std::unique_lock lock(flow.mutex);
            flow.changed.wait(lock, [&] { return flow.stopped || flow.queued < kMostQueued; });
            flow.queue.push_back({at + options_.oneWayDelay, {bytes.begin(), bytes.end()}});
            flow.queued += bytes.size();
            flow.changed.notify_all();
            if (got <= 0 || flow.stopped) {
                return;
            }
        }
    }

    void Write(Flow& flow, int to) {
        Clock::time_point free = Clock::now();  // when the rate limit lets the next block go
        std::unique_lock lock(flow.mutex);
        for (;;) {
            flow.changed.wait(lock, [&] { return flow.stopped || !flow.queue.empty(); });
            if (flow.stopped) {
                return;
            }
            Clock::time_point const due = std::max(flow.queue.front().due, free);
            if (flow.changed.wait_until(lock, due, [&] { return flow.stopped; })) {
                return;
            }
            Block block = std::move(flow.queue.front());
            flow.queue.pop_front();
            flow.queued -= block.bytes.size();
            flow.changed.notify_all();
            lock.unlock();
            if (block.bytes.empty() || !SendAll(to, block.bytes)) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            if (options_.bytesPerSecond > 0) {
                free = std::max(due, Clock::now()) +
                       std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                           static_cast<double>(block.bytes.size()) /
                           static_cast<double>(options_.bytesPerSecond)));
            }
            lock.lock();
        }
    }

    LinkOptions const& options_;
    int client_;
    int server_;
    Flow toServer_;
    Flow toClient_;
};

LinkEmulator::LinkEmulator(LinkOptions options)
    : options_(std::move(options)),
      acceptor_(options_.listenAddress, options_.serverAddress, [this](int client, int server) {
          std::lock_guard lock(mutex_);
          connections_.push_back(std::make_unique<Connection>(options_, client, server));
      }) {}

LinkEmulator::~LinkEmulator() {
    acceptor_.Stop();
    connections_.clear();
}

}  // namespace qm::test
