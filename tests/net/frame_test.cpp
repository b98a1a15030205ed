#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "net/frame.h"
#include "socket_helpers.h"
#include "support/wire.h"

namespace qm::net {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Joined;

// Writes down every frame as it is handed over, and the link's state at that moment.
class RecordingSink : public FrameSink {
  public:
    std::vector<Bytes> frames;
    std::vector<int> statesDuringFrame;
    std::vector<unsigned> errors;

    void OnFrame(ClientLink& link, std::span<const std::uint8_t> frame) override {
        frames.emplace_back(frame.begin(), frame.end());
        statesDuringFrame.push_back(link.recvState);
    }
    void OnFrameError(ClientLink&, unsigned length) override { errors.push_back(length); }
};

// A frame with the given two length bytes and type, body bytes counting up from `first`.
Bytes Frame(std::uint8_t high, std::uint8_t low, std::uint8_t type, std::uint8_t first = 0) {
    std::size_t const length = high * 256u + low;
    Bytes frame{high, low, type};
    for (std::size_t i = 3; i < length; ++i) {
        frame.push_back(static_cast<std::uint8_t>(first + i));
    }
    return frame;
}

class ReassemblyTest : public ::testing::Test {
  protected:
    ClientLink link;
    RecordingSink sink;

    void Feed(std::span<const std::uint8_t> bytes) {
        Windows_Client_ManageDatas(link, sink, bytes);
    }
};

TEST_F(ReassemblyTest, WholeFrameInOneRead) {
    Bytes const frame = Frame(0x00, 0x4F, 4);
    Feed(frame);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], frame);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), link.recvBuffer.begin()));
    EXPECT_EQ(sink.statesDuringFrame[0], 0);
    EXPECT_EQ(link.recvState, -2);
    EXPECT_EQ(link.bytesReceived, 79u);
    EXPECT_NE(link.lastReceiveTime, 0);
}

TEST_F(ReassemblyTest, OneBytePerRead) {
    Bytes const frame = Frame(0x00, 0x4F, 4);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        EXPECT_TRUE(sink.frames.empty()) << "frame handed over after " << i << " bytes";
        Feed(std::span(frame).subspan(i, 1));
    }
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], frame);
    EXPECT_EQ(link.bytesReceived, 79u);
}

TEST_F(ReassemblyTest, SplitBetweenTheLengthBytes) {
    Bytes const frame = Frame(0x01, 0x02, 0);
    Feed(std::span(frame).first(1));
    EXPECT_EQ(link.recvState, -1);
    Feed(std::span(frame).subspan(1));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].size(), 258u);
    EXPECT_EQ(sink.frames[0], frame);
}

TEST_F(ReassemblyTest, TwoFramesAndTheStartOfAThird) {
    Bytes const first = Frame(0x00, 0x20, 4, 1);
    Bytes const second = Frame(0x00, 0x03, 0);
    Bytes const third = Frame(0x00, 0x64, 4, 9);
    Bytes const input = Joined({first, second, Bytes(third.begin(), third.begin() + 10)});
    Feed(input);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[0], first);
    EXPECT_EQ(sink.frames[1], second) << "a frame of length 3 is a frame";
    EXPECT_EQ(link.recvCount, 8);
    EXPECT_EQ(link.recvState, 100 - 10);
    EXPECT_EQ(link.bytesReceived, input.size());

    Feed(std::span(third).subspan(10));
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[2], third);
}

TEST_F(ReassemblyTest, LargestFrameFits) {
    Bytes const frame = Frame(0x08, 0x03, 4);
    Feed(frame);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], frame);
}

TEST_F(ReassemblyTest, RandomCutsOfARandomStreamGiveTheFramesBackInOrder) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> frameLength(3, 2051);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::vector<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 400; ++i) {
        int const length = i % 50 == 0 ? 3 : frameLength(random);
        Bytes frame{static_cast<std::uint8_t>(length / 256),
                    static_cast<std::uint8_t>(length % 256)};
        while (frame.size() < static_cast<std::size_t>(length)) {
            frame.push_back(static_cast<std::uint8_t>(byteValue(random)));
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
        sent.push_back(std::move(frame));
    }
    std::uniform_int_distribution<std::size_t> cut(1, 3000);
    for (std::size_t at = 0; at < stream.size();) {
        std::size_t const size = std::min(cut(random), stream.size() - at);
        Feed(std::span(stream).subspan(at, size));
        at += size;
    }
    EXPECT_EQ(sink.frames, sent);
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_EQ(link.bytesReceived, stream.size());
    EXPECT_EQ(link.recvState, -2);
}

// A link followed by memory that must stay untouched, to catch writes past the frame buffer.
struct GuardedLink {
    ClientLink link;
    std::array<std::uint8_t, 70000> after;
};

class BadLengthTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(BadLengthTest, BreaksTheStreamWithoutWritingPastTheBuffer) {
    unsigned const length = GetParam();
    auto guarded = std::make_unique<GuardedLink>();
    guarded->after.fill(0xA5);
    ClientLink& link = guarded->link;
    RecordingSink sink;

    Bytes const valid = Frame(0x00, 0x05, 4);
    Bytes input = valid;
    input.push_back(static_cast<std::uint8_t>(length >> 8));
    input.push_back(static_cast<std::uint8_t>(length & 0xFF));
    input.resize(input.size() + 4000, 0xEE);
    Windows_Client_ManageDatas(link, sink, input);
    Windows_Client_ManageDatas(link, sink, valid);

    ASSERT_EQ(sink.frames.size(), 1u) << "only the frame before the bad length";
    EXPECT_EQ(sink.frames[0], valid);
    EXPECT_EQ(sink.errors, std::vector<unsigned>{length});
    EXPECT_EQ(link.recvState, kRecvBroken);
    EXPECT_EQ(link.bytesReceived, valid.size() + 2);
    EXPECT_TRUE(std::all_of(guarded->after.begin(), guarded->after.end(),
                            [](std::uint8_t byte) { return byte == 0xA5; }));
}

INSTANTIATE_TEST_SUITE_P(Lengths, BadLengthTest, ::testing::Values(0u, 1u, 2u, 2052u, 65535u));

TEST(FrameHeaderTest, ReadsLengthAndType) {
    Bytes const header{0x08, 0x03, 0x04};
    FrameHeader const read = ReadFrameHeader(header);
    EXPECT_EQ(read.length, 2051);
    EXPECT_EQ(read.type, 4);
}

class SendFrameTest : public ::testing::Test {
  protected:
    testing::PlatformLoop loop;
    SocketLayer layer{loop};
    testing::SocketPair pair;
    base::ByteBuffer frames;
};

// AppendFrame writes the header a body of that length needs; the frame goes out whole.
TEST_F(SendFrameTest, WritesTheHeaderAndSendsTheWholeFrame) {
    struct Case {
        std::size_t bodyLength;
        std::uint8_t type;
        Bytes header;
    };
    for (Case const& c : {Case{76, 4, {0x00, 0x4F, 0x04}}, Case{2048, 4, {0x08, 0x03, 0x04}},
                          Case{0, 0, {0x00, 0x03, 0x00}}}) {
        SCOPED_TRACE(c.bodyLength);
        frames.assign(5, 0xEE);  // a frame appended behind others keeps them
        std::span<std::uint8_t> const frame = AppendFrame(frames, c.type, c.bodyLength + 3);
        ASSERT_EQ(frames.size(), 5 + c.bodyLength + 3);
        EXPECT_EQ(Bytes(frames.begin(), frames.begin() + 5), Bytes(5, 0xEE));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frames.data()) % base::kCacheLineSize, 0u);
        EXPECT_TRUE(std::all_of(frame.begin() + 3, frame.end(), [](auto b) { return b == 0; }));
        for (std::size_t i = 3; i < frame.size(); ++i) {
            frame[i] = static_cast<std::uint8_t>(i ^ 0x55);
        }
        ASSERT_EQ(layer.SendAll(testing::Socket(pair.ours), frame), 0);
        Bytes const received = testing::ReadExactly(pair.theirs.get(), frame.size());
        ASSERT_EQ(received.size(), frame.size());
        EXPECT_EQ(Bytes(received.begin(), received.begin() + 3), c.header);
        EXPECT_TRUE(std::equal(received.begin(), received.end(), frame.begin()));
        EXPECT_TRUE(testing::DrainAll(pair.theirs.get()).empty()) << "more than one frame sent";
    }
}

TEST_F(SendFrameTest, PassesTheSendResultOn) {
    std::span<std::uint8_t> const frame = AppendFrame(frames, 4, 13);
    testing::FillSendBuffer(pair.ours.get());
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), frame), -2);
    qm::test::ResetOnClose(pair.theirs);  // gone, and says so to the next send at once
    pair.theirs.Reset();
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), frame), -1);
}

}  // namespace
}  // namespace qm::net
