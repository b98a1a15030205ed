// A large download that a run leaves unfinished, cancelled or killed, goes on in the next run from
// the first chunk that run lacks, and the completed run leaves nothing of it behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr char kLocal[] = "data/file.bin";
constexpr char kRemote[] = "files/data/file.bin";
constexpr char kPartial[] = "data/.quillmesh-partial-file.bin";
constexpr std::uint32_t kChunksBeforeStop = 40;
// About 200 KiB: large enough to be resumable, 101 chunks and a part.
Bytes const kContent = PatternBytes(100 * kChunkSize + 1000, 29);
std::uint32_t const kCrc = ReferenceCrc32(kContent);
auto const kLastIndex = static_cast<std::uint32_t>((kContent.size() + kChunkSize - 1) / kChunkSize);

// The description of the file, the updater's requests for it, beginning with chunk `firstAsked`,
// then the file's size and its chunks from `firstAsked` on, stop-and-wait, up to `end`; the
// whole file ends with the empty chunk and the acknowledgement.
::testing::AssertionResult Serve(Conversation& talk, std::uint32_t firstAsked, std::uint32_t end) {
    auto done = talk.SendDescription(1, 2, kLocal, kRemote, kCrc);
    done = done ? talk.ExpectDownloadRequest(kRemote, firstAsked) : done;
    done = done ? talk.SendFileSize(kRemote, static_cast<std::uint32_t>(kContent.size())) : done;
    for (std::uint32_t index = firstAsked; done && index < std::min(end, kLastIndex); ++index) {
        done = talk.SendChunk(kRemote, index, ChunkOf(kContent, index));
    }
    if (!done || end <= kLastIndex) {
        return done;
    }
    done = talk.SendData(kLastIndex, {});
    return done ? talk.ExpectAck(2) : done;
}

TEST(Resume, ACancelledOrKilledDownloadGoesOnFromTheFirstChunkItLacks) {
    struct Stop {
        char const* name;
        TestAddress address;
        int signal;
        int status;
    };
    Stop const stops[] = {
        {"cancelled", TestAddress::ResumeAfterCancel, SIGTERM, kExitCancelled},
        {"killed", TestAddress::ResumeAfterKill, SIGKILL, 128 + SIGKILL},
    };
    for (Stop const& stop : stops) {
        SCOPED_TRACE(stop.name);
        ScriptedRun run(stop.address);
        run.dir.Write(kLocal, "old content");
        Process& first = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1)) << first.Transcript();
        ASSERT_TRUE(Serve(run.talk, 0, kChunksBeforeStop)) << first.Transcript();
        first.Signal(stop.signal);
        EXPECT_EQ(first.ExitStatus(), stop.status) << first.Transcript();
        run.server.CloseConnection();

        EXPECT_EQ(run.dir.Read(kLocal), "old content");
        EXPECT_EQ(ProfileEntry(run.dir.Read("crc.ini").value_or(""), "PARTIAL_DOWNLOADS", kLocal),
                  std::to_string(kCrc));
        Bytes const kept = run.dir.ReadBytes(kPartial).value_or(Bytes{});
        ASSERT_LE(kept.size(), std::size_t{kChunksBeforeStop} * kChunkSize);
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), kContent.begin()));
        // A cancel keeps every chunk that arrived; a kill what was written before it.
        auto const lacking = static_cast<std::uint32_t>(kept.size() / kChunkSize);
        if (stop.signal == SIGTERM) {
            EXPECT_EQ(lacking, kChunksBeforeStop);
        }
        EXPECT_GT(lacking, 0u) << "nothing of " << kChunksBeforeStop << " chunks was kept";

        Process& second = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1)) << second.Transcript();
        ASSERT_TRUE(Serve(run.talk, lacking, kLastIndex + 1)) << second.Transcript();
        EXPECT_TRUE(run.EndsCleanly());
        EXPECT_EQ(run.dir.ReadBytes(kLocal), kContent);
        EXPECT_FALSE(run.dir.Exists(kPartial));
        EXPECT_EQ(run.dir.Read("crc.ini").value_or("").find("PARTIAL_DOWNLOADS"),
                  std::string::npos);
        EXPECT_EQ(TemporaryEntries(SnapshotTree(run.dir.path())), std::vector<std::string>{});
    }
}

// A run that records no list keeps crc.ini as it found it, also when a large download recorded
// its partial file there for a while.
TEST(Resume, ARunThatRecordsNoListLeavesNoChecksumRecordBehind) {
    ScriptedRun run(TestAddress::NoListRecorded);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    ASSERT_TRUE(Serve(run.talk, 0, kLastIndex + 1)) << updater.Transcript();
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.ReadBytes(kLocal), kContent);
    EXPECT_FALSE(run.dir.Exists("crc.ini"));
}

// A kept part on record for the very checksum the server announces, which does not fit what the
// server then says of the file (no size at all, 64 KiB or less, fewer bytes than were kept), goes
// with its record, and the file comes from its start in the same run.
TEST(Resume, AKeptPartThatDoesNotFitTheAnnouncedFileGoesAndTheFileComesFromItsStart) {
    struct Case {
        char const* name;
        std::size_t size;
        bool sizeAnnounced;
    };
    Case const cases[] = {
        {"no size announced", 100 * kChunkSize + 1000, false},
        {"64 KiB or less", 30 * 1024, true},
        {"fewer bytes than kept", 35 * kChunkSize, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run(TestAddress::KeptPartDoesNotFit);
        Bytes const content = PatternBytes(c.size, 31);
        std::uint32_t const crc = ReferenceCrc32(content);
        run.dir.Write(kLocal, "old content");
        run.dir.Write(kPartial, PatternBytes(std::size_t{kChunksBeforeStop} * kChunkSize, 5));
        run.dir.Write("crc.ini", "[PARTIAL_DOWNLOADS]\n" + std::string(kLocal) + "=" +
                                     std::to_string(crc) + "\n");
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
        ASSERT_TRUE(run.talk.SendDescription(1, 2, kLocal, kRemote, crc));
        ASSERT_TRUE(run.talk.ExpectDownloadRequest(kRemote, kChunksBeforeStop));
        if (c.sizeAnnounced) {
            ASSERT_TRUE(run.talk.SendFileSize(kRemote, static_cast<std::uint32_t>(c.size)));
        }
        // The answer to the request for the kept part's end: empty past the end of the file.
        ASSERT_TRUE(run.talk.SendData(kChunksBeforeStop, ChunkOf(content, kChunksBeforeStop)));
        ASSERT_TRUE(run.talk.ExpectChunkRequest(kRemote, 0)) << updater.Transcript();
        ASSERT_TRUE(run.talk.SendContent(kRemote, content, 2)) << updater.Transcript();
        EXPECT_TRUE(run.EndsCleanly());
        EXPECT_EQ(run.dir.ReadBytes(kLocal), content);
        EXPECT_FALSE(run.dir.Exists(kPartial));
        EXPECT_EQ(run.dir.Read("crc.ini"), std::nullopt) << "nothing else was recorded";
    }
}

}  // namespace
}  // namespace qm::test
