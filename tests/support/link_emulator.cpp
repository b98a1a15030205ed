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
#include <cstdint>
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
    Connection(LinkOptions const& options, Shared& shared, std::size_t number, int client,
               int server)
        : options_(options), shared_(shared), number_(number), client_(client), server_(server) {
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
            flow.writer = std::thread([this, &flow, direction, to] { Write(flow, direction, to); });
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
                if (got <= 0 || !Forward(direction, to, bytes)) {
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

    void Write(Flow& flow, LinkDirection direction, int to) {
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
            if (block.bytes.empty() || !Forward(direction, to, block.bytes)) {
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

    // Sends `bytes` on: what the silence holds after it is over, and up to the cut if this
    // connection reaches it. False when the connection is cut or a send failed.
    bool Forward(LinkDirection direction, int to, std::span<const std::uint8_t> bytes) {
        bool const toClient = direction == LinkDirection::ToClient;
        while (!bytes.empty()) {
            WaitOutSilence();
            std::size_t piece =
                toClient ? std::min(bytes.size(), BytesBeforeSilence()) : bytes.size();
            bool cut = false;
            if (toClient && options_.cutEveryToClient > 0) {
                std::uint64_t const left = options_.cutEveryToClient - carriedToClient_;
                cut = piece >= left;
                piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, left));
            }
            if (!SendAll(to, bytes.first(piece))) {
                return false;
            }
            if (options_.delivered) {
                options_.delivered(number_, direction, bytes.first(piece));
            }
            if (toClient) {
                carriedToClient_ += piece;
                NoteCarried(piece);
            }
            if (cut) {
                ::shutdown(client_, SHUT_RDWR);
                ::shutdown(server_, SHUT_RDWR);
                return false;
            }
            bytes = bytes.subspan(piece);
        }
        return true;
    }

    // Bytes the link carries towards the client before its silence begins (as many as there are
    // when it has begun or never will).
    std::size_t BytesBeforeSilence() {
        std::lock_guard lock(shared_.mutex);
        if (options_.silentAfter == 0 || shared_.silentUntil) {
            return SIZE_MAX;
        }
        return static_cast<std::size_t>(options_.silentAfter - shared_.toClient);
    }

    void WaitOutSilence() {
        std::unique_lock lock(shared_.mutex);
        if (shared_.silentUntil) {
            shared_.changed.wait_until(lock, *shared_.silentUntil,
                                       [&] { return shared_.stopping; });
        }
    }

    void NoteCarried(std::size_t count) {
        std::lock_guard lock(shared_.mutex);
        shared_.toClient += count;
        if (options_.silentAfter > 0 && !shared_.silentUntil &&
            shared_.toClient >= options_.silentAfter) {
            shared_.silentUntil = Clock::now() + options_.silence;
        }
    }

    LinkOptions const& options_;
    Shared& shared_;
    std::size_t number_;
    std::uint64_t carriedToClient_ = 0;  // written by the one thread that sends towards the client
    int client_;
    int server_;
    Flow toServer_;
    Flow toClient_;
};

LinkEmulator::LinkEmulator(LinkOptions options)
    : options_(std::move(options)),
      acceptor_(options_.listenAddress, options_.serverAddress, [this](int client, int server) {
          std::lock_guard lock(mutex_);
          connections_.push_back(
              std::make_unique<Connection>(options_, shared_, connections_.size(), client, server));
      }) {}

LinkEmulator::~LinkEmulator() {
    acceptor_.Stop();
    {
        std::lock_guard lock(shared_.mutex);
        shared_.stopping = true;
    }
    shared_.changed.notify_all();
    connections_.clear();
}

}  // namespace qm::test
