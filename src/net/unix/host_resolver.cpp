#include "net/host_resolver.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "base/unix/unique_fd.h"

namespace qm::net {

// What the lookup thread and the loop share: the thread fills `endpoints`, then says so on its
// end of the socket pair; the loop reads it from the other end.
struct HostResolver::Pending {
    std::vector<Endpoint> endpoints;
    std::atomic<bool> found{false};  // endpoints are filled in
    base::UniqueFd threadEnd;
};

// The loop's end of the socket pair.
struct HostResolver::Answer {
    base::UniqueFd loopEnd;
};

HostResolver::HostResolver(EventLoop& loop, Lookup lookup)
    : loop_(loop), lookup_(std::move(lookup)) {}

HostResolver::~HostResolver() {
    Forget();
}

void HostResolver::Resolve(std::string host, std::uint16_t port, Done done) {
    Forget();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
        return done({});
    }
    auto pending = std::make_shared<Pending>();
    pending->threadEnd.Reset(ends[1]);
    pending_ = pending;
    answer_ = std::make_unique<Answer>();
    answer_->loopEnd.Reset(ends[0]);
    std::thread([pending, lookup = lookup_, host = std::move(host), port] {
        pending->endpoints = lookup(host, port);
        pending->found.store(true, std::memory_order_release);
        char const answered = 1;
        // Nobody may be listening any more: no SIGPIPE for that.
        [[maybe_unused]] ssize_t const sent =
            ::send(pending->threadEnd.get(), &answered, 1, MSG_NOSIGNAL);
    }).detach();
    loop_.Watch(SocketHandle(ends[0]), EventLoop::Interest::Readable,
                [this, done = std::move(done)] {
                    std::vector<Endpoint> endpoints;
                    if (pending_->found.load(std::memory_order_acquire)) {
                        endpoints = std::move(pending_->endpoints);
                    }
                    Forget();
                    done(std::move(endpoints));
                });
}

void HostResolver::Forget() {
    if (answer_) {
        loop_.Forget(SocketHandle(answer_->loopEnd.get()));
        answer_.reset();
    }
    pending_.reset();
}

}  // namespace qm::net
