// With WINDOW set the updater keeps that many chunk requests outstanding once the file's size is
// known, in order, never beyond the empty chunk that ends the file; and the settings of the run
// out of their ranges end it before it begins.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr std::uint32_t kWindow = 4;
constexpr char kRemote[] = "files/data/file.bin";

// Answers the requests of a download in order, each chunk only once `kWindow` requests (or all
// there are, up to the empty chunk) are outstanding, so that a request too many or too few shows.
::testing::AssertionResult ServeWindowed(Conversation& talk, Bytes const& content) {
    Peers const& peers = talk.peers();
    auto const last = static_cast<std::uint32_t>((content.size() + kChunkSize - 1) / kChunkSize);
    if (auto sized = talk.SendFileSize(kRemote, static_cast<std::uint32_t>(content.size()));
        !sized) {
        return sized;
    }
    std::uint32_t requested = 1;  // chunk 0 was asked for with the file
    for (std::uint32_t index = 0; index <= last; ++index) {
        for (; requested < std::min(index + kWindow, last + 1); ++requested) {
            Bytes const request = ChunkRequest(peers.client, peers.fileSender, requested, kRemote);
            if (auto asked = talk.server().Expect(request); !asked) {
                return ::testing::AssertionFailure()
                       << "request of chunk " << requested << " before chunk " << index << ": "
                       << asked.message();
            }
        }
        if (index == 0) {
            if (auto more = talk.server().ReceiveFrame(Millis(300))) {
                return ::testing::AssertionFailure()
                       << "more than " << kWindow << " requests: " << DescribeFrame(*more);
            }
        }
        if (auto sent = talk.SendData(index, ChunkOf(content, index)); !sent) {
            return sent;
        }
    }
    return talk.ExpectAck(2);
}

TEST(RequestWindow, UpToWindowRequestsAreOutstandingAndNoneBeyondTheEmptyChunk) {
    std::size_t const sizes[] = {10, kChunkSize + 10, 3 * kChunkSize, 11 * kChunkSize + 500};
    for (std::size_t const size : sizes) {
        SCOPED_TRACE(size);
        Bytes const content = PatternBytes(size, static_cast<std::uint32_t>(size));
        ScriptedRun run(TestAddress::PipelinedRequests);
        AddUpdaterSettings(run.dir.path(), "WINDOW=4\n");
        run.dir.Write("data/file.bin", "old content");
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
        ASSERT_TRUE(run.talk.OfferChanged(2, "data/file.bin", kRemote, ReferenceCrc32(content)));
        ASSERT_TRUE(ServeWindowed(run.talk, content)) << updater.Transcript();
        EXPECT_TRUE(run.EndsCleanly());
        EXPECT_EQ(run.dir.ReadBytes("data/file.bin"), content);
    }
}

TEST(RunSettings, AValueOutOfItsRangeEndsTheRunBeforeItBegins) {
    struct Case {
        char const* line;
        char const* text;
    };
    char const kTimeout[] = "TIMEOUT must be a whole number of seconds from 0 to 86400";
    char const kWindowText[] = "WINDOW must be a whole number from 1 to 256";
    char const kPin[] = "PIN must be sha256// and 44 base64 characters, separated by ;";
    Case const cases[] = {
        {"TIMEOUT=86401", kTimeout},
        {"TIMEOUT=-1", kTimeout},
        {"WINDOW=0", kWindowText},
        {"WINDOW=257", kWindowText},
        {"PIN=sha256//abc", kPin},
        {"PIN=sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=;", kPin},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptedRun run(TestAddress::OutOfRangeSettings);
        AddUpdaterSettings(run.dir.path(), std::string(c.line) + "\n");
        TreeSnapshot const before = SnapshotTree(run.dir.root());
        Process& updater = run.Start();
        EXPECT_EQ(updater.ExitStatus(), kExitConfiguration) << updater.Transcript();
        EXPECT_EQ(updater.Lines(), std::vector<std::string>{Box("Configuration error:", c.text)});
        EXPECT_FALSE(run.server.ConnectionArrives(Millis(0)));
        EXPECT_EQ(DescribeDifference(before, SnapshotTree(run.dir.root())), "");
    }
}

}  // namespace
}  // namespace qm::test
