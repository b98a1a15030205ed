#include "update_server/throttled_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/unix/poll_event_loop.h"
#include "support/captured_stream.h"
#include "support/process.h"

namespace qm::server {
namespace {

using namespace std::chrono_literals;

// A log on a loop whose clock moves only when the test says.
class ThrottledLogTest : public ::testing::Test {
  protected:
    // Moves the clock on and runs the timers that came due.
    void Pass(std::chrono::milliseconds time) {
        now_ += time;
        loop_.RunOnce(0ms);
    }
    // The lines written so far, without their time of day.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (std::string const& line : test::SplitLines(stream_.text())) {
            lines.push_back(line.substr(line.find(' ') + 1));
        }
        return lines;
    }

    net::EventLoop::Clock::time_point now_{std::chrono::hours(1)};
    net::PollEventLoop loop_{[this] { return now_; }};
    test::CapturedStream stream_;
    ServerLog log_{stream_.stream()};
    ThrottledLog throttled_{log_, loop_};
};

TEST_F(ThrottledLogTest, AtMostOneLineASecondWithTheCountOfWhatCameMeanwhile) {
    throttled_.Note("refused 1");
    Pass(100ms);
    throttled_.Note("refused 2");
    throttled_.Note("refused 3");
    Pass(500ms);
    throttled_.Note("refused 4");
    EXPECT_EQ(Lines(), std::vector<std::string>{"refused 1"});
    Pass(399ms);
    EXPECT_EQ(Lines().size(), 1u);
    Pass(1ms);                     // a second after the first line
    throttled_.Note("refused 5");  // within the second after that line
    Pass(999ms);
    EXPECT_EQ(Lines().size(), 2u);
    Pass(1ms);
    Pass(5s);
    throttled_.Note("refused 6");  // a quiet second: at once
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "refused 1",
                           "refused 4 (the last of 3 such events in a second)",
                           "refused 5",
                           "refused 6",
                       }));
}

TEST_F(ThrottledLogTest, WhatIsHeldIsWrittenWhenTheLogGoes) {
    {
        ThrottledLog last(log_, loop_);
        last.Note("first");
        last.Note("second");
    }
    EXPECT_EQ(Lines(), (std::vector<std::string>{"first", "second"}));
}

}  // namespace
}  // namespace qm::server
