#include "net/host_resolver.h"

#include <atomic>
#include <thread>

#include "net/timer.h"

namespace qm::net {
namespace {

// How often the loop looks for the answer of a lookup under way.
constexpr std::chrono::milliseconds kAnswerCheck{20};

}  // namespace

// What the lookup thread and the loop share: the thread fills `endpoints`, then says so.
struct HostResolver::Pending {
    std::vector<Endpoint> endpoints;
    std::atomic<bool> found{false};  // endpoints are filled in
};

// The loop looks for the answer on a short timer: a window message from the lookup's thread
// would need the loop's window, which a resolver on any event loop does not have.
struct HostResolver::Answer {
    explicit Answer(EventLoop& loop) : check(loop) {}
    Timer check;
    Done done;
};

HostResolver::HostResolver(EventLoop& loop, Lookup lookup)
    : loop_(loop), lookup_(std::move(lookup)) {}

HostResolver::~HostResolver() {
    Forget();
}

void HostResolver::Resolve(std::string host, std::uint16_t port, Done done) {
    Forget();
    auto pending = std::make_shared<Pending>();
    pending_ = pending;
    answer_ = std::make_unique<Answer>(loop_);
    answer_->done = std::move(done);
    std::thread([pending, lookup = lookup_, host = std::move(host), port] {
        pending->endpoints = lookup(host, port);
        pending->found.store(true, std::memory_order_release);
    }).detach();
    LookForAnswer();
}

void HostResolver::LookForAnswer() {
    answer_->check.Start(kAnswerCheck, [this] {
        if (!pending_->found.load(std::memory_order_acquire)) {
            return LookForAnswer();
        }
        std::vector<Endpoint> endpoints = std::move(pending_->endpoints);
        Done const done = std::move(answer_->done);
        Forget();
        done(std::move(endpoints));
    });
}

void HostResolver::Forget() {
    answer_.reset();
    pending_.reset();
}

}  // namespace qm::net
