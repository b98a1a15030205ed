// With a server that announces the fast path the updater asks for a list's entries at once, asks
// for each file that differs as a stream, and asks for the next list once everything of the list
// is done; with any other announcement it speaks as it always has.
#include <gtest/gtest.h>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr std::uint32_t kBothCapabilities = kListEntriesCapability | kFileStreamsCapability;
Bytes const kNewB = PatternBytes(10 * kChunkSize + 11, 5);

// The log-in, an announcement with `capabilities`, and the request for the first list.
::testing::AssertionResult OpenWith(Conversation& talk, std::uint32_t capabilities) {
    Peers const& peers = talk.peers();
    auto step = talk.LogIn();
    step = step ? talk.server().Send(
                      AnnouncementWithCapabilities(peers.server, peers.client, capabilities))
                : step;
    return step ? talk.server().Expect(talk.ListRequestFor("quillmesh.ini")) : step;
}

// The summary of the first list, which the updater does not hold, and its two requests for
// entries, 256 at a time.
::testing::AssertionResult AskedForEntries(Conversation& talk, std::string const& list) {
    Peers const& peers = talk.peers();
    auto step = talk.server().Send(Summary(777, list, "next.ini", 0, peers));
    step = step ? talk.server().Expect(EntriesRequest(peers.client, peers.server, list, 0, 256))
                : step;
    return step ? talk.server().Expect(EntriesRequest(peers.client, peers.server, list, 256, 256))
                : step;
}

Bytes EntriesFrame(Conversation const& talk, std::uint32_t first,
                   std::initializer_list<Bytes> entries, bool endsList = true) {
    return ListEntries(talk.peers().server, talk.peers().client, first,
                       static_cast<std::uint16_t>(entries.size()), endsList, Joined(entries));
}

// The server's part of one list: a file that is current, one that differs, one deletion and the
// list's end.
Bytes FirstList(Conversation const& talk) {
    return EntriesFrame(
        talk, 0,
        {Entry({.crc = ReferenceCrc32(ToBytes("current\n")),
                .size = 8,
                .localPath = "a.txt",
                .remoteName = "files/a.txt"}),
         Entry({.crc = ReferenceCrc32(kNewB),
                .size = static_cast<std::uint32_t>(kNewB.size()),
                .localPath = "data/b.bin",
                .remoteName = "files/b.bin"}),
         Entry({.action = 4, .localPath = "gone.txt", .remoteName = "gone.txt"}),
         Entry({.action = 2, .crc = 777, .localPath = "next.ini", .remoteName = "quillmesh.ini"})});
}

TEST(FastPath, AListInAFewFramesAndAFileAsAStream) {
    ScriptedRun run(TestAddress::FastPathList);
    run.dir.Write("a.txt", "current\n");
    run.dir.Write("data/b.bin", "old b\n");
    run.dir.Write("gone.txt", "obsolete\n");
    Process& updater = run.Start();
    ASSERT_TRUE(OpenWith(run.talk, kBothCapabilities)) << updater.Transcript();
    ASSERT_TRUE(AskedForEntries(run.talk, "quillmesh.ini")) << updater.Transcript();
    ASSERT_TRUE(run.server.Send(FirstList(run.talk)));
    Peers const& peers = run.talk.peers();
    ASSERT_TRUE(run.server.Expect(StreamRequest(peers.client, peers.server, 0, "files/b.bin")))
        << updater.Transcript();
    ASSERT_TRUE(run.server.Send(Delivery("files/b.bin", kNewB, peers)));
    // Everything of the list is done: its record, and the request for the next acknowledges it.
    EXPECT_TRUE(run.server.Expect(run.talk.ListRequestFor("next.ini"))) << updater.Transcript();
    run.talk.listName = "next.ini";
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.ReadBytes("data/b.bin"), kNewB);
    EXPECT_FALSE(run.dir.Exists("gone.txt"));
    EXPECT_EQ(ProfileEntry(run.dir.Read("crc.ini").value_or(""), "GLOBAL_CRC", "quillmesh.ini"),
              "777");
}

// An announcement without a capability block this updater understands, or with only one of the
// two capabilities: the summary is acknowledged, the walk goes on as it always has.
TEST(FastPath, AnyOtherAnnouncementGivesTheWalkOfOld) {
    struct Case {
        char const* name;
        Bytes announcement;
    };
    Peers const peers;
    Bytes wrongTag = AnnouncementWithCapabilities(peers.server, peers.client, kBothCapabilities);
    wrongTag[28] = 'q';
    Case const cases[] = {
        {"28 bytes", ServerAnnouncement(peers.server, peers.client)},
        {"another tag", wrongTag},
        {"version 0",
         AnnouncementWithCapabilities(peers.server, peers.client, kBothCapabilities, 0)},
        {"entries only",
         AnnouncementWithCapabilities(peers.server, peers.client, kListEntriesCapability)},
        {"streams only",
         AnnouncementWithCapabilities(peers.server, peers.client, kFileStreamsCapability)},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run(TestAddress::FastPathNotAnnounced);
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.LogIn()) << updater.Transcript();
        ASSERT_TRUE(run.server.Send(c.announcement));
        ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor("quillmesh.ini")));
        ASSERT_TRUE(run.server.Send(Summary(777, "quillmesh.ini", "next.ini")));
        EXPECT_TRUE(run.talk.ExpectAck(0)) << updater.Transcript();
        ASSERT_TRUE(run.talk.Begin(1));
        run.talk.listName = "quillmesh.ini";
        EXPECT_TRUE(run.EndsCleanly());
    }
}

}  // namespace
}  // namespace qm::test
