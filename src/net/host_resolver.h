// Name lookups that do not hold up the event loop: the lookup runs on a thread of its own and its
// answer reaches the loop as an event of its own (a readable descriptor on POSIX systems, a
// short timer on Windows), so the cancel command, signals and timers keep working during a slow
// lookup. A lookup that is no longer wanted is simply forgotten: its
// thread finishes on its own and its answer goes nowhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/endpoint.h"
#include "net/event_loop.h"

namespace qm::net {

class HostResolver {
  public:
    using Done = std::function<void(std::vector<Endpoint> endpoints)>;
    using Lookup =
        std::function<std::vector<Endpoint>(std::string const& host, std::uint16_t port)>;

    // `lookup` runs on the lookup's thread; the system's resolver unless a test brings its own.
    explicit HostResolver(EventLoop& loop, Lookup lookup = LookUpEndpoints);
    ~HostResolver();
    HostResolver(HostResolver const&) = delete;
    HostResolver& operator=(HostResolver const&) = delete;

    // Looks `host` up; `done` is called from the loop with every address found (none when the
    // name cannot be resolved). A lookup still under way is forgotten.
    void Resolve(std::string host, std::uint16_t port, Done done);

    void Forget();

  private:
    // Windows: the loop looks for the answer again a little later.
    void LookForAnswer();

    struct Pending;  // what the lookup's thread and the loop share
    struct Answer;   // how the loop hears of the answer

    EventLoop& loop_;
    Lookup lookup_;
    std::shared_ptr<Pending> pending_;
    std::unique_ptr<Answer> answer_;
};

}  // namespace qm::net
