// The server fails the updater on the network side: it closes the connection at each stage of the
// conversation, cuts a frame stream at every byte, says nothing at all, or sends garbage. The
// updater must never crash or hang beyond its own timers, must end with the right box and exit
// status, and must leave the old files as they were, without temporary files.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "faults/fleet.h"
#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr char kOldContent[] = "the old content of the file, longer than the new one\n";
constexpr char kNewContent[] = "fresh";
std::string const kConnectionLost = Box("Network error", "connection lost");
std::string const kCancelled = Box("Program exit", "The user has canceled the operation.");
std::string const kCompleted = Box(kSuccessCaption, kSuccessText);

void FurnishOldFiles(ClientDir const& dir) {
    dir.Write("data/file.bin", kOldContent);
    dir.Write("keep.txt", "a file the server never mentions\n");
}

// The client directory holds the old or the new file and nothing a run leaves behind.
void ExpectOnlyOldOrNew(ClientDir const& dir, bool updated, std::string const& context) {
    EXPECT_EQ(dir.Read("data/file.bin"), updated ? kNewContent : kOldContent) << context;
    EXPECT_EQ(dir.Read("keep.txt"), "a file the server never mentions\n") << context;
    EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), std::vector<std::string>{}) << context;
    EXPECT_EQ(dir.List(), (Lines{"data/", "data/file.bin", "keep.txt", "upd.ini"})) << context;
}

// ---- A frame stream cut at every byte --------------------------------------------------------

// One whole run in one stream: the opening, a list with one changed file, and the completion.
struct CutStream {
    Bytes bytes;
    std::size_t installedFrom = 0;  // a cut at or after this offset has the new file in place
};

CutStream MakeCutStream() {
    Peers const peers;
    Bytes const content = ToBytes(kNewContent);
    CutStream stream;
    stream.bytes = Joined({
        Opening(peers),
        Description(0, 1, "", "", 0, peers),
        Description(1, 2, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content), peers),
        Delivery("files/data/file.bin", content, peers),
    });
    stream.installedFrom = stream.bytes.size();
    Append(stream.bytes, Completion(peers));
    return stream;
}

TEST(CutFrames, AStreamCutAtEveryByteEndsWithConnectionLost) {
    CutStream const stream = MakeCutStream();
    std::vector<FleetCase> cases;
    for (std::size_t cut = 0; cut <= stream.bytes.size(); ++cut) {
        cases.push_back(
            {Bytes(stream.bytes.begin(), stream.bytes.begin() + static_cast<std::ptrdiff_t>(cut)),
             true});
    }
    std::size_t checked = 0;
    RunFleet(LoopbackAddress(TestAddress::FramesCutAtEveryByte), cases, 48, FurnishOldFiles,
             [&](std::size_t cut, ClientDir& dir, Process& updater, Ending const& ending) {
                 ++checked;
                 std::string const context = "cut after " + std::to_string(cut) + " of " +
                                             std::to_string(stream.bytes.size()) + " bytes\n" +
                                             updater.Transcript();
                 if (cut == stream.bytes.size()) {
                     EXPECT_EQ(ending.status, kExitClean) << context;
                     EXPECT_EQ(updater.Boxes(), Lines{kCompleted}) << context;
                 } else {
                     EXPECT_EQ(ending.status, kExitNetwork) << context;
                     EXPECT_EQ(updater.Boxes(), Lines{kConnectionLost}) << context;
                 }
                 ExpectOnlyOldOrNew(dir, cut >= stream.installedFrom, context);
             });
    EXPECT_EQ(checked, cases.size());
}

// ---- The server closes at each stage of the conversation -------------------------------------

struct Stage {
    char const* name;
    // Plays the server's part up to the stage; the connection is closed right after.
    std::function<::testing::AssertionResult(Conversation&)> play;
    int status;
    std::string box;
};

::testing::AssertionResult UpToMidList(Conversation& talk) {
    auto step = talk.OpenList(1);
    step = step
               ? talk.SendDescription(1, 2, "keep.txt", "files/keep.txt",
                                      ReferenceCrc32(ToBytes("a file the server never mentions\n")))
               : step;
    return step ? talk.ExpectAck(2) : step;
}

::testing::AssertionResult UpToMidDownload(Conversation& talk) {
    Bytes const content(5000, 0x42);
    auto step = UpToMidList(talk);
    step =
        step ? talk.OfferChanged(3, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content))
             : step;
    step = step ? talk.SendFileSize("files/data/file.bin", 5000) : step;
    return step ? talk.SendChunk("files/data/file.bin", 0, ChunkOf(content, 0)) : step;
}

TEST(ClosedByServer, AtEveryStageOfTheConversation) {
    Stage const stages[] = {
        {"after accept", [](Conversation& talk) { return talk.server().Accept(); }, kExitNetwork,
         kConnectionLost},
        {"after the WELCOME", [](Conversation& talk) { return talk.LogIn(); }, kExitNetwork,
         kConnectionLost},
        {"after the announcement", [](Conversation& talk) { return talk.Open(); }, kExitNetwork,
         kConnectionLost},
        {"in the middle of a list", UpToMidList, kExitNetwork, kConnectionLost},
        {"in the middle of a download", UpToMidDownload, kExitNetwork, kConnectionLost},
        {"after the completion",
         [](Conversation& talk) {
             auto const opened = talk.Open();
             return opened ? talk.Finish() : opened;
         },
         kExitClean, kCompleted},
    };
    for (Stage const& stage : stages) {
        SCOPED_TRACE(stage.name);
        ScriptedRun run(TestAddress::ClosedAtEveryStage);
        FurnishOldFiles(run.dir);
        Process& updater = run.Start();
        ASSERT_TRUE(stage.play(run.talk)) << updater.Transcript();
        run.server.CloseConnection();
        EXPECT_EQ(updater.ExitStatus(), stage.status) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{stage.box}) << updater.Transcript();
        ExpectOnlyOldOrNew(run.dir, false, updater.Transcript());
    }
}

// ---- The server says nothing -----------------------------------------------------------------

// Long enough for the 5-second response timer to have fired, had it been running.
constexpr Millis kBeyondTheTimers{6500};

// An updater that waits for a silent server is alive, shows nothing alarming and burns no CPU;
// the stop signal then ends it as a cancel.
void ExpectWaitingUntilStopped(Process& updater, int stopSignal, ClientDir& dir) {
    std::this_thread::sleep_for(kBeyondTheTimers);
    ASSERT_FALSE(updater.PollExit()) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{}) << updater.Transcript();
    updater.Signal(stopSignal);
    std::optional<Ending> const ending = updater.WaitForExit(Millis(10000));
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->status, kExitCancelled) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{kCancelled}) << updater.Transcript();
    // Waiting is sleeping: a second of CPU time over the whole wait would be a busy loop.
    EXPECT_LT(ending->cpuMillis, 1000) << "CPU time of a run that only waited";
    ExpectOnlyOldOrNew(dir, false, updater.Transcript());
}

TEST(SilentServer, AfterAcceptTheUpdaterWaitsUntilTerminated) {
    ScriptedRun run(TestAddress::SilentServer);
    FurnishOldFiles(run.dir);
    Process& updater = run.Start();
    ASSERT_TRUE(run.server.Accept());
    ASSERT_TRUE(updater.WaitForLine(Status("connection succesfull"), kStepTimeout))
        << updater.Transcript();
    ExpectWaitingUntilStopped(updater, SIGTERM, run.dir);
}

TEST(SilentServer, AfterTheAnnouncementTheUpdaterWaitsUntilInterrupted) {
    ScriptedRun run(TestAddress::SilentAfterAnnouncement);
    FurnishOldFiles(run.dir);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.Open());
    ExpectWaitingUntilStopped(updater, SIGINT, run.dir);
}

// ---- Garbage ---------------------------------------------------------------------------------

// A frame of `length` bytes with a valid header and a random body, of a type and kind that the
// updater does not handle.
Bytes IgnoredFrame(std::mt19937& random, std::size_t length, std::uint8_t type, std::uint8_t kind) {
    Bytes frame = RandomBytes(random, length);
    frame[0] = static_cast<std::uint8_t>(length >> 8);
    frame[1] = static_cast<std::uint8_t>(length);
    frame[2] = type;
    if (length > 11) {
        frame[11] = kind;
    }
    return frame;
}

// A frame header that claims `length`, followed by a few bytes.
Bytes ClaimedLength(std::uint16_t length) {
    return {static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 4, 0, 0};
}

enum class Expect { NetworkBox, ConnectionLost };

struct GarbageCase {
    std::string name;
    FleetCase served;
    Expect expect;
    bool touchesDownload = false;  // the garbage comes in the middle of a download
};

std::vector<GarbageCase> GarbageCases() {
    std::mt19937 random(20240611);
    Peers const peers;
    Bytes const content(5000, 0x42);
    Bytes const midDownload = Joined({
        Opening(peers),
        Description(0, 1, "", "", 0, peers),
        Description(1, 2, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content), peers),
        SizeFrame("files/data/file.bin", 5000, peers),
        DataChunk(peers.fileSender, peers.client, 0, ChunkOf(content, 0)),
    });
    std::vector<GarbageCase> cases;
    for (std::size_t length : {1u, 2u, 3u, 10u, 150u, 151u, 152u, 600u, 2051u, 6000u}) {
        std::string const size = std::to_string(length) + " random bytes";
        // In place of the WELCOME, with the connection held open: the updater must end the run
        // by itself, at the latest when its response timer fires.
        Bytes first = RandomBytes(random, length);
        cases.push_back({size + " instead of the WELCOME", {first, false}, Expect::NetworkBox});
        Bytes welcomeShaped = RandomBytes(random, length);
        welcomeShaped[0] = 0;
        if (length > 1) {
            welcomeShaped[1] = 151;
        }
        cases.push_back(
            {size + " with a WELCOME's length", {welcomeShaped, false}, Expect::NetworkBox});
        // After the opening, and in the middle of a download, then closed.
        cases.push_back({size + " after the opening",
                         {Joined({Opening(peers), RandomBytes(random, length)}), true},
                         Expect::NetworkBox});
        cases.push_back({size + " in the middle of a download",
                         {Joined({midDownload, RandomBytes(random, length)}), true},
                         Expect::NetworkBox,
                         true});
    }
    // Frames whose length is no frame.
    for (std::uint16_t length : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2},
                                 std::uint16_t{2052}, std::uint16_t{4096}, std::uint16_t{65535}}) {
        cases.push_back({"a frame of length " + std::to_string(length) + " after the opening",
                         {Joined({Opening(peers), ClaimedLength(length)}), true},
                         Expect::NetworkBox});
    }
    // Well-formed frames of types and kinds the updater ignores, then closed.
    Bytes ignored = Opening(peers);
    std::uniform_int_distribution<std::size_t> size(3, 2051);
    for (int i = 0; i < 200; ++i) {
        std::uint8_t const type = static_cast<std::uint8_t>(1 + i % 255);  // neither 0 nor 4
        Append(ignored, IgnoredFrame(random, size(random), type == 4 ? 5 : type, 0));
    }
    for (int kindNumber : {0, 2, 4, 6, 8, 9, 100, 255}) {
        auto const kind = static_cast<std::uint8_t>(kindNumber);
        Append(ignored, IgnoredFrame(random, size(random), 4, kind));
        Append(ignored, IgnoredFrame(random, size(random), 0, kind == 3 ? 1 : kind));
    }
    cases.push_back(
        {"216 frames of unknown types and kinds", {ignored, true}, Expect::ConnectionLost});
    return cases;
}

TEST(Garbage, FromTheServerEndsTheRunWithANetworkError) {
    std::vector<GarbageCase> const garbage = GarbageCases();
    std::vector<FleetCase> cases;
    for (GarbageCase const& c : garbage) {
        cases.push_back(c.served);
    }
    RunFleet(LoopbackAddress(TestAddress::GarbageFromServer), cases, 24, FurnishOldFiles,
             [&](std::size_t index, ClientDir& dir, Process& updater, Ending const& ending) {
                 GarbageCase const& c = garbage[index];
                 std::string const context = c.name + "\n" + updater.Transcript();
                 EXPECT_EQ(ending.status, kExitNetwork) << context;
                 Lines const boxes = updater.Boxes();
                 ASSERT_EQ(boxes.size(), 1u) << context;
                 if (c.expect == Expect::ConnectionLost) {
                     EXPECT_EQ(boxes[0], kConnectionLost) << context;
                 } else {
                     EXPECT_TRUE(boxes[0].starts_with(BoxPrefix("Network error")) ||
                                 boxes[0].starts_with(BoxPrefix("Network Error")))
                         << context;
                 }
                 ExpectOnlyOldOrNew(dir, false, context);
             });
}

}  // namespace
}  // namespace qm::test
