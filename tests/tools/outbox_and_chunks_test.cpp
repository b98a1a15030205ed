// The two halves of serving bytes: the outbox that keeps what a socket did not take, and the
// chunk reader that reads files piece by piece.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "temp_dir.h"
#include "update_server/chunk_reader.h"
#include "update_server/outbox.h"

namespace qm::server {
namespace {

class SocketPair {
  public:
    SocketPair() {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends_);
        int const small = 4096;
        ::setsockopt(ends_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    }
    ~SocketPair() {
        CloseReader();
        ::close(ends_[0]);
    }
    SocketPair(SocketPair const&) = delete;
    SocketPair& operator=(SocketPair const&) = delete;

    int writer() const { return ends_[0]; }
    // Everything readable now, after waiting at most `waitMs` for the first byte.
    std::vector<std::uint8_t> ReadAvailable(int waitMs) {
        pollfd ready{ends_[1], POLLIN, 0};
        ::poll(&ready, 1, waitMs);
        std::vector<std::uint8_t> bytes;
        std::uint8_t buffer[8192];
        ssize_t count = 0;
        while ((count = ::recv(ends_[1], buffer, sizeof buffer, 0)) > 0) {
            bytes.insert(bytes.end(), buffer, buffer + count);
        }
        return bytes;
    }
    void CloseReader() {
        if (ends_[1] != -1) {
            ::close(ends_[1]);
            ends_[1] = -1;
        }
    }

  private:
    int ends_[2] = {-1, -1};
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
    }
    return bytes;
}

TEST(Outbox, KeepsWhatTheSocketDidNotTakeAndSendsItInOrderLater) {
    SocketPair pair;
    Outbox outbox;
    std::vector<std::uint8_t> const sent = Pattern(1 << 20);
    outbox.Append(std::span(sent).first(1000));
    outbox.Append(std::span(sent).subspan(1000));

    std::vector<std::uint8_t> received;
    Outbox::Flush result = outbox.SendTo(pair.writer());
    EXPECT_EQ(result, Outbox::Flush::Blocked);
    EXPECT_GT(outbox.pending(), 0u);
    for (int round = 0; round < 100000 && result != Outbox::Flush::Drained; ++round) {
        std::vector<std::uint8_t> const part = pair.ReadAvailable(1000);
        received.insert(received.end(), part.begin(), part.end());
        result = outbox.SendTo(pair.writer());
        ASSERT_NE(result, Outbox::Flush::Failed);
    }
    std::vector<std::uint8_t> const rest = pair.ReadAvailable(1000);
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(result, Outbox::Flush::Drained);
    EXPECT_EQ(outbox.pending(), 0u);
    EXPECT_EQ(received, sent);
}

TEST(Outbox, APeerThatIsGoneFailsTheSendWithoutASignal) {
    SocketPair pair;
    pair.CloseReader();
    Outbox outbox;
    std::vector<std::uint8_t> const bytes = Pattern(100);
    outbox.Append(bytes);
    EXPECT_EQ(outbox.SendTo(pair.writer()), Outbox::Flush::Failed);
}

TEST(Outbox, NothingToSendIsDrained) {
    SocketPair pair;
    Outbox outbox;
    EXPECT_EQ(outbox.SendTo(pair.writer()), Outbox::Flush::Drained);
    EXPECT_TRUE(pair.ReadAvailable(0).empty());
}

class ChunkReaderTest : public ::testing::Test {
  protected:
    ChunkReaderTest() : contents_(Pattern(5000)) {
        test::WriteFile(dir_.path() / "x.bin", std::string(contents_.begin(), contents_.end()));
    }

    std::vector<std::uint8_t> Read(ReleaseFile const& file, std::uint32_t index) {
        auto const chunk = reader_.Read(dir_.path(), file, index);
        EXPECT_TRUE(chunk.has_value());
        return chunk ? std::vector<std::uint8_t>(chunk->begin(), chunk->end())
                     : std::vector<std::uint8_t>{};
    }
    std::vector<std::uint8_t> Slice(std::size_t from, std::size_t to) const {
        return {contents_.begin() + static_cast<long>(from),
                contents_.begin() + static_cast<long>(to)};
    }

    test::TempDir dir_;
    std::vector<std::uint8_t> contents_;
    ChunkReader reader_;
};

TEST_F(ChunkReaderTest, ChunksOf2027BytesThenEmpty) {
    ReleaseFile const file{"x.bin", 0, 5000};
    EXPECT_EQ(Read(file, 0), Slice(0, 2027));
    EXPECT_EQ(Read(file, 1), Slice(2027, 4054));
    EXPECT_EQ(Read(file, 2), Slice(4054, 5000));
    EXPECT_TRUE(Read(file, 3).empty());
    EXPECT_TRUE(Read(file, 0xFFFFFFFF).empty());  // far past the end, no overflow
}

TEST_F(ChunkReaderTest, NeverServesBeyondTheSizeSeenAtTheScan) {
    ReleaseFile const scannedSmaller{"x.bin", 0, 3000};
    EXPECT_EQ(Read(scannedSmaller, 1), Slice(2027, 3000));
    EXPECT_TRUE(Read(scannedSmaller, 2).empty());
}

TEST_F(ChunkReaderTest, SwitchesBetweenFiles) {
    test::WriteFile(dir_.path() / "y.bin", "why");
    EXPECT_EQ(Read({"x.bin", 0, 5000}, 0), Slice(0, 2027));
    EXPECT_EQ(Read({"y.bin", 0, 3}, 0), (std::vector<std::uint8_t>{'w', 'h', 'y'}));
    EXPECT_EQ(Read({"x.bin", 0, 5000}, 2), Slice(4054, 5000));
}

TEST_F(ChunkReaderTest, AMissingFileGivesNothing) {
    EXPECT_FALSE(reader_.Read(dir_.path(), {"gone.bin", 0, 10}, 0).has_value());
}

}  // namespace
}  // namespace qm::server
