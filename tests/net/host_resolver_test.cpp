// Lookups beside the loop: a slow one holds nothing up, a forgotten one never answers, and every
// address found comes back in order.
#include "net/host_resolver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "net/timer.h"
#include "socket_helpers.h"

namespace qm::net {
namespace {

using namespace std::chrono_literals;

// A lookup that takes `delay` and finds one IPv6 and one IPv4 address.
HostResolver::Lookup SlowLookup(std::chrono::milliseconds delay, std::atomic<int>& finished) {
    return [delay, &finished](std::string const& /*host*/, std::uint16_t port) {
        std::this_thread::sleep_for(delay);
        std::vector<Endpoint> found{*LiteralEndpoint("2001:db8::1", port),
                                    *LiteralEndpoint("192.0.2.1", port)};
        ++finished;
        return found;
    };
}

TEST(HostResolver, ASlowLookupLeavesTheLoopFreeAndAnswersInOrder) {
    testing::PlatformLoop loop;
    std::atomic<int> finished{0};
    HostResolver resolver(loop, SlowLookup(300ms, finished));
    std::vector<std::string> answer;
    resolver.Resolve("updates.example", 34005, [&](std::vector<Endpoint> endpoints) {
        for (Endpoint const& endpoint : endpoints) {
            answer.push_back(endpoint.Describe());
        }
    });
    int ticks = 0;
    Timer tick(loop);
    std::function<void()> again = [&] {
        ++ticks;
        tick.Start(10ms, again);
    };
    tick.Start(10ms, again);
    EXPECT_TRUE(testing::RunUntil(loop, [&] { return !answer.empty(); }));
    EXPECT_GE(ticks, 10) << "the loop stood still during the lookup";
    EXPECT_EQ(answer, (std::vector<std::string>{"[2001:db8::1]:34005", "192.0.2.1:34005"}));
}

TEST(HostResolver, AForgottenLookupNeverAnswers) {
    testing::PlatformLoop loop;
    std::atomic<int> finished{0};
    bool answered = false;
    {
        HostResolver resolver(loop, SlowLookup(100ms, finished));
        resolver.Resolve("updates.example", 34005, [&](auto) { answered = true; });
    }  // gone, as when the run is cancelled during the lookup
    for (int turn = 0; turn < 100 && finished.load() == 0; ++turn) {
        loop.RunOnce(10ms);
    }
    loop.RunOnce(50ms);
    EXPECT_EQ(finished.load(), 1);
    EXPECT_FALSE(answered);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST(Endpoint, WrittenAddressesNeedNoLookup) {
    EXPECT_EQ(LiteralEndpoint("127.0.0.9", 34005)->Describe(), "127.0.0.9:34005");
    EXPECT_EQ(LiteralEndpoint("::1", 34005)->Describe(), "[::1]:34005");
    EXPECT_FALSE(LiteralEndpoint("localhost", 34005).has_value());
    EXPECT_FALSE(LiteralEndpoint("127.0.0", 34005).has_value());
    std::vector<Endpoint> const local = LookUpEndpoints("localhost", 34005);
    ASSERT_FALSE(local.empty());
    EXPECT_TRUE(LookUpEndpoints("no-such-host.invalid", 34005).empty());
}

}  // namespace
}  // namespace qm::net
