// A hostile server: local paths that lead out of the client directory (.., absolute paths, drive
// letters, symbolic links placed in the client directory), names carrying terminal escape
// sequences, names that fill their fields without a terminator, frames shorter than their layout,
// chunk lengths past the frame, downloads that never end and list chains that never end. Nothing
// outside the client directory may be created, changed or deleted, the updater must not crash,
// and every refusal ends the run with a clear box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faults/fleet.h"
#include "faults/memory_checks.h"
#include "support/crc32.h"
#include "support/lines.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

constexpr char kOld[] = "the old file\n";
std::string const kConnectionLost = Box("Network error", "connection lost");
std::string const kCompleted = Box(kSuccessCaption, kSuccessText);

// A directory outside every client directory that the hostile paths and links aim at, and what
// has changed in it since it was furnished.
class Sentinel {
  public:
    fs::path const& path() const { return dir_.path(); }
    Lines Changes() const { return TreeDifferences(before_, Snapshot(dir_.path())); }

  private:
    static TreeSnapshot Snapshot(fs::path const& path) {
        return SnapshotTree(path, {.withTimes = true});
    }
    static TreeSnapshot Furnished(fs::path const& path) {
        FurnishSentinel(path);
        return Snapshot(path);
    }

    TempDir dir_{{.enter = false, .prefix = "qm-sentinel"}};
    TreeSnapshot const before_ = Furnished(dir_.path());
};

// Output lines carry no terminal control bytes: no C0 (but the line end), DEL, or C1, raw or as
// UTF-8.
::testing::AssertionResult FreeOfControls(std::string const& output) {
    for (std::size_t i = 0; i < output.size(); ++i) {
        auto const byte = static_cast<unsigned char>(output[i]);
        bool const c1 = byte == 0xC2 && i + 1 < output.size() &&
                        static_cast<unsigned char>(output[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(output[i + 1]) <= 0x9F;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F) || c1) {
            return ::testing::AssertionFailure()
                   << "control byte " << static_cast<int>(byte) << " at " << i << " in:\n"
                   << output;
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- Paths that leave the client directory ---------------------------------------------------

// Links that a hostile release might have left in the client directory, or that a user made.
void FurnishLinks(ClientDir& dir, fs::path const& sentinel) {
    dir.Write("data/file.bin", kOld);
    fs::create_directory_symlink(sentinel, dir.path() / "out");
    fs::create_directory_symlink("out", dir.path() / "chain");
    fs::create_directory_symlink(sentinel / "absent", dir.path() / "dangling");
    fs::create_symlink("loop", dir.path() / "loop");
    fs::create_directory_symlink("../..", dir.path() / "data" / "up");
    fs::create_symlink(sentinel / "victim.txt", dir.path() / "victimlink");
    fs::create_directory_symlink(sentinel / "nested", dir.path() / "dirlink");
}

struct PathCase {
    std::uint8_t action;  // 1 download, 4 delete
    std::string path;
    bool refused;
};

std::vector<PathCase> PathCases(fs::path const& sentinel) {
    std::string const s = sentinel.string();
    std::vector<std::string> const unsafe = {
        "../x.txt",
        "..\\x.txt",
        "a/../../x.txt",
        "data\\..\\..\\x.txt",
        "./../x.txt",
        "..",
        "data/..",
        s + "/victim.txt",
        s + "/new.txt",
        s + "\\nested\\deeper\\victim.bin",
        "/qm-fault-probe.txt",
        "\\qm-fault-probe.txt",
        "//qm-fault-probe.txt",
        "C:\\x.txt",
        "c:x.txt",
        "out/victim.txt",
        "out\\new.txt",
        "out/nested/deeper/victim.bin",
        "out/nested/new/x.txt",
        "chain/victim.txt",
        "dangling/x.txt",
        "loop/x.txt",
        "data/up/x.txt",
        "data/up/client/data/file.bin",
        "dirlink/deeper/victim.bin",
        "victimlink/x.txt",
    };
    std::vector<PathCase> cases;
    for (std::uint8_t action : {std::uint8_t{1}, std::uint8_t{4}}) {
        for (std::string const& path : unsafe) {
            cases.push_back({action, path, true});
        }
        // The link itself is inside: it is replaced or removed, never written through.
        cases.push_back({action, "victimlink", false});
        cases.push_back({action, "dirlink", false});
    }
    return cases;
}

Bytes const kNewContent = ToBytes("the new file, downloaded in place of a link\n");

FleetCase ServedFor(PathCase const& c) {
    Peers const peers;
    Bytes stream =
        Joined({Opening(peers), Description(0, 1, "", "", 0, peers),
                Description(c.action, 2, c.path, "files/x", ReferenceCrc32(kNewContent))});
    if (!c.refused) {
        if (c.action == 1) {
            Append(stream, Delivery("files/x", kNewContent, peers));
        }
        Append(stream, Completion(peers));
    }
    return {stream, false};  // the updater ends the run itself
}

TEST(HostileServer, PathsOutOfTheClientDirectoryReachNothingOutside) {
    Sentinel sentinel;
    std::vector<PathCase> const paths = PathCases(sentinel.path());
    std::vector<FleetCase> cases;
    for (PathCase const& c : paths) {
        cases.push_back(ServedFor(c));
    }
    RunFleet(
        LoopbackAddress(TestAddress::UnsafePaths), cases, 24,
        [&](ClientDir& dir) { FurnishLinks(dir, sentinel.path()); },
        [&](std::size_t index, ClientDir& dir, Process& updater, Ending const& ending) {
            PathCase const& c = paths[index];
            std::string const context = "action " + std::to_string(c.action) + " on \"" + c.path +
                                        "\"\n" + updater.Transcript();
            if (c.refused) {
                EXPECT_EQ(ending.status, kExitDisk) << context;
                EXPECT_TRUE(OneBox(updater, "Disk access error", "Unsafe file path refused: "))
                    << context;
                EXPECT_EQ(dir.Read("data/file.bin"), kOld) << context;
                EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.path() / "victimlink")))
                    << context;
            } else {
                EXPECT_EQ(ending.status, kExitClean) << context;
                EXPECT_EQ(updater.Boxes(), Lines{kCompleted}) << context;
                fs::path const link = dir.path() / c.path;
                if (c.action == 1) {
                    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link))) << context;
                    EXPECT_EQ(dir.ReadBytes(c.path), kNewContent) << context;
                } else {
                    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << context;
                }
            }
            // Beside the client directory there is still nothing but the client directory.
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.root()), fs::directory_iterator()),
                      1)
                << context;
            EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{}) << context;
            EXPECT_FALSE(fs::exists(fs::symlink_status("/qm-fault-probe.txt"))) << context;
            EXPECT_EQ(sentinel.Changes(), Lines{}) << context;
        });
    EXPECT_EQ(sentinel.Changes(), Lines{});
}

// ---- Terminal escape sequences in names ------------------------------------------------------

TEST(HostileServer, EscapeSequencesInNamesNeverReachTheOutput) {
    std::string const escapes =
        "\x1b[2J\x1b[31mred\x1b]0;owned\x07\r\b\x7f\xc2\x9b"
        "1m\x9b"
        "2m";
    Peers const peers;
    Bytes const content = ToBytes("new\n");
    std::vector<FleetCase> const cases = {
        // Shown names: the remote name, the file size name, the list name.
        {Joined({Opening(peers), Description(0, 1, "", "", 0),
                 Description(1, 2, "data/file.bin", escapes, ReferenceCrc32(content)),
                 Delivery(escapes, content, peers),
                 Description(2, 3, escapes.substr(0, 40), escapes, 0), Completion(peers)}),
         false},
        // A local path with escapes: inside the directory, but shown in the refusal box.
        {Joined({Opening(peers), Description(0, 1, "", "", 0),
                 Description(4, 2, "../" + escapes.substr(0, 40), escapes, 0)}),
         false},
        {Joined({Opening(peers), Description(0, 1, "", "", 0),
                 Description(1, 2, "../" + escapes.substr(0, 40), escapes, 1)}),
         false},
    };
    RunFleet(
        LoopbackAddress(TestAddress::EscapeSequences), cases, 3,
        [](ClientDir& dir) { dir.Write("data/file.bin", kOld); },
        [&](std::size_t index, ClientDir& dir, Process& updater, Ending const& ending) {
            SCOPED_TRACE(index);
            EXPECT_TRUE(FreeOfControls(updater.Output()));
            EXPECT_EQ(updater.Boxes().size(), 1u) << updater.Transcript();
            EXPECT_EQ(ending.status, index == 0 ? kExitClean : kExitDisk) << updater.Transcript();
            EXPECT_EQ(dir.ReadBytes("data/file.bin"), index == 0 ? content : ToBytes(kOld));
        });
}

// ---- Names that fill their fields ------------------------------------------------------------

TEST(HostileServer, AListNameOfSixtyFourBytesWithoutTerminator) {
    ScriptedRun run(TestAddress::UnterminatedListName);
    auto& [dir, server, talk, _] = run;
    Process& updater = run.Start();
    std::string const full(64, 'L');
    ASSERT_TRUE(talk.OpenList(1));
    // Switch to the 64-byte list: its request carries all 64 bytes.
    ASSERT_TRUE(talk.SendDescription(2, 2, full, "", 1111));
    ASSERT_TRUE(server.Expect(talk.ListRequestFor(full)));
    talk.listName = full;
    // Repeat it: its checksum is recorded under its name; the acknowledgement carries 64 bytes.
    ASSERT_TRUE(talk.SendDescription(3, 3, "", "", 2222));
    ASSERT_TRUE(server.Expect(talk.ListRequestFor(full)));
    ASSERT_TRUE(talk.Begin(4));
    // A summary keyed by the unterminated name: the recorded checksum matches, so the updater
    // moves on to the next list.
    ASSERT_TRUE(server.Send(Summary(2222, full, std::string(64, 'M'))));
    ASSERT_TRUE(server.Expect(talk.ListRequestFor(std::string(64, 'M'))));
    ASSERT_TRUE(talk.Finish());
    EXPECT_EQ(updater.ExitStatus(), kExitClean) << updater.Transcript();
    std::string const record = dir.Read("crc.ini").value_or("");
    auto const entries = ParseChecksumRecord(record);
    ASSERT_TRUE(entries) << record;
    EXPECT_EQ(*entries,
              (std::map<std::string, std::string>{{"quillmesh.ini", "1111"}, {full, "2222"}}));
    EXPECT_EQ(dir.List(), (Lines{"crc.ini", "upd.ini"}));
}

TEST(HostileServer, NamesOfSixHundredAndFourHundredAndSixtyFourBytes) {
    ScriptedRun run(TestAddress::LongFileSizeName);
    auto& [dir, server, talk, _] = run;
    Process& updater = run.Start();
    std::string const localPath(64, 'p');
    std::string const remoteName(400, 'r');
    Bytes const content(5000, 0x33);
    ASSERT_TRUE(talk.OpenList(1));
    ASSERT_TRUE(talk.OfferChanged(2, localPath, remoteName, ReferenceCrc32(content)));
    // A name that fills all 600 bytes, and a frame longer than the layout.
    ASSERT_TRUE(server.Send(Resized(
        FileSize(talk.peers().fileSender, talk.peers().client, std::string(600, 'N'), 5000), 700)));
    ASSERT_TRUE(talk.SendContent(remoteName, content, 2));
    ASSERT_TRUE(talk.Finish());
    EXPECT_EQ(updater.ExitStatus(), kExitClean) << updater.Transcript();
    EXPECT_EQ(dir.ReadBytes(localPath), content);
    Lines const shown = updater.LinesStartingWith("status: file:");
    ASSERT_EQ(shown.size(), 1u) << updater.Transcript();
    EXPECT_TRUE(shown[0].starts_with("status: file:" + std::string(100, 'N')));
    EXPECT_TRUE(FreeOfControls(updater.Output()));
}

// ---- Frames that do not hold what their kind needs -------------------------------------------

struct BrokenCase {
    std::string name;
    Bytes frame;
    bool afterChunk = false;  // sent after chunk 0 of a download
};

TEST(HostileServer, ShortFramesAndChunkLengthsPastTheFrameEndTheRun) {
    Peers const peers;
    Bytes const content(5000, 0x21);
    Bytes const description =
        Description(1, 2, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content));
    Bytes const size = SizeFrame("files/data/file.bin", 5000, peers);
    Bytes const summary = Summary(0, "x", "y");
    std::vector<BrokenCase> broken;
    for (std::size_t length : {15u, 20u, 86u, 490u}) {
        broken.push_back(
            {"file description of " + std::to_string(length), Resized(description, length)});
    }
    for (std::size_t length : {15u, 100u, 614u, 618u}) {
        broken.push_back({"file size of " + std::to_string(length), Resized(size, length)});
    }
    for (std::size_t length : {15u, 50u, 147u}) {
        broken.push_back({"list summary of " + std::to_string(length), Resized(summary, length)});
    }
    for (std::size_t length : {15u, 20u}) {
        broken.push_back({"data chunk of " + std::to_string(length),
                          Resized(DataChunk(peers.fileSender, peers.client, 1, content), length),
                          true});
    }
    struct Claim {
        std::uint16_t claimed;
        std::size_t carried;
    };
    for (Claim claim :
         {Claim{100, 10}, Claim{2027, 0}, Claim{2028, 2027}, Claim{65535, 2027}, Claim{1, 0}}) {
        broken.push_back(
            {"data chunk claiming " + std::to_string(claim.claimed) + " carrying " +
                 std::to_string(claim.carried),
             DataChunkClaiming(peers.fileSender, peers.client, 1, claim.claimed, claim.carried),
             true});
    }
    std::vector<FleetCase> cases;
    for (BrokenCase const& c : broken) {
        Bytes stream = Joined({Opening(peers), Description(0, 1, "", "", 0)});
        if (c.afterChunk) {
            stream = Joined({stream, description, size,
                             DataChunk(peers.fileSender, peers.client, 0,
                                       std::span<const std::uint8_t>(content.data(), 2027))});
        }
        cases.push_back({Joined({stream, c.frame}), false});
    }
    RunFleet(
        LoopbackAddress(TestAddress::ShortFrames), cases, 24,
        [](ClientDir& dir) { dir.Write("data/file.bin", kOld); },
        [&](std::size_t index, ClientDir& dir, Process& updater, Ending const& ending) {
            std::string const context = broken[index].name + "\n" + updater.Transcript();
            EXPECT_EQ(ending.status, kExitNetwork) << context;
            EXPECT_TRUE(OneBox(updater, "Network error", "invalid ")) << context;
            EXPECT_EQ(dir.Read("data/file.bin"), kOld) << context;
            EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{}) << context;
        });
}

// ---- Downloads and list chains that never end ------------------------------------------------

// Starts the updater on a directory whose data/file.bin is the old file, and describes that file
// as changed in the first list; the updater then asks for it.
::testing::AssertionResult StartWithTheOldFileOffered(ScriptedRun& run) {
    run.dir.Write("data/file.bin", kOld);
    run.Start();
    auto const opened = run.talk.OpenList(1);
    return opened ? run.talk.OfferChanged(2, "data/file.bin", "files/data/file.bin", 1234) : opened;
}

TEST(HostileServer, ChunksBeyondTheAnnouncedSizeAreRefused) {
    ScriptedRun run(TestAddress::ChunksBeyondAnnouncedSize);
    auto& [dir, server, talk, _] = run;
    ASSERT_TRUE(StartWithTheOldFileOffered(run));
    Process& updater = *run.updater;
    Bytes const chunk(kChunkSize, 0x44);
    ASSERT_TRUE(talk.SendFileSize("files/data/file.bin", 5000));
    ASSERT_TRUE(talk.SendChunk("files/data/file.bin", 0, chunk));
    ASSERT_TRUE(talk.SendChunk("files/data/file.bin", 1, chunk));
    // The third full chunk would make 6081 bytes of a file announced with 5000.
    ASSERT_TRUE(talk.SendData(2, chunk));
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
    EXPECT_TRUE(OneBox(updater, "Network error"));
    EXPECT_EQ(dir.Read("data/file.bin"), kOld);
    EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
}

// Growth of the updater's resident memory that a bounded loop may show; an updater that keeps
// any of the data would grow by megabytes.
constexpr long kFlatMemoryKb = 1024;

TEST(HostileServer, EndlessChunksOfAFileWithoutSizeStayInItsTemporaryFile) {
    Sentinel sentinel;
    ScriptedRun run(TestAddress::EndlessChunks);
    auto& [dir, server, talk, _] = run;
    ASSERT_TRUE(StartWithTheOldFileOffered(run));
    Process& updater = *run.updater;
    Bytes const chunk(kChunkSize, 0x55);
    constexpr std::uint32_t kChunks = 5000;  // about 10 MB
    long residentEarly = 0;
    for (std::uint32_t index = 0; index < kChunks; ++index) {
        ASSERT_TRUE(talk.SendChunk("files/data/file.bin", index, chunk)) << index;
        if (index == 200) {
            residentEarly = ResidentKb(updater.pid());
        }
    }
    long const residentLate = ResidentKb(updater.pid());
    EXPECT_FALSE(updater.PollExit());
    if (kMemoryIsMeasurable) {
        EXPECT_LE(residentLate - residentEarly, kFlatMemoryKb)
            << residentEarly << " KiB after 200 chunks, " << residentLate << " KiB after "
            << kChunks;
    }
    Lines const temporary = TemporaryEntries(SnapshotTree(dir.path()));
    ASSERT_EQ(temporary.size(), 1u);
    // The updater writes in 64 KiB blocks, so up to one block may still be in its memory.
    std::uintmax_t const received = std::uintmax_t{kChunks} * kChunkSize;
    std::uintmax_t const onDisk = fs::file_size(dir.path() / temporary[0]);
    EXPECT_LE(onDisk, received);
    EXPECT_GT(onDisk + 64 * 1024, received);
    server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{kConnectionLost});
    EXPECT_EQ(dir.Read("data/file.bin"), kOld);
    EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
    EXPECT_EQ(sentinel.Changes(), Lines{});
}

TEST(HostileServer, EndlessListChainsKeepMemoryFlat) {
    Sentinel sentinel;
    ScriptedRun run(TestAddress::EndlessListChains);
    auto& [dir, server, talk, _] = run;
    Process& updater = run.Start();
    ASSERT_TRUE(talk.OpenList(1));
    // Summaries whose list is "known" (nothing recorded, checksum 0): each names a new next list.
    constexpr int kSummaries = 3000;
    long residentEarly = 0;
    for (int i = 0; i < kSummaries; ++i) {
        std::string const next = "chain-" + std::to_string(i) + ".ini";
        ASSERT_TRUE(server.Send(Summary(0, "unknown", next)));
        ASSERT_TRUE(server.Expect(talk.ListRequestFor(next))) << i;
        if (i == 100) {
            residentEarly = ResidentKb(updater.pid());
        }
    }
    talk.listName = "chain-" + std::to_string(kSummaries - 1) + ".ini";
    // The same list repeated: its one record is rewritten each time.
    constexpr int kRepeats = 300;
    for (int i = 0; i < kRepeats; ++i) {
        ASSERT_TRUE(talk.SendDescription(3, 10, "", "", static_cast<std::uint32_t>(i)));
        ASSERT_TRUE(server.Expect(talk.ListRequestFor(talk.listName))) << i;
    }
    // A chain of new lists: each is recorded once.
    constexpr int kSwitches = 300;
    for (int i = 0; i < kSwitches; ++i) {
        std::string const next = "switch-" + std::to_string(i) + ".ini";
        ASSERT_TRUE(talk.SendDescription(2, 11, next, "", static_cast<std::uint32_t>(i)));
        ASSERT_TRUE(server.Expect(talk.ListRequestFor(next))) << i;
        talk.listName = next;
    }
    long const residentLate = ResidentKb(updater.pid());
    EXPECT_FALSE(updater.PollExit());
    if (kMemoryIsMeasurable) {
        EXPECT_LE(residentLate - residentEarly, kFlatMemoryKb)
            << residentEarly << " KiB early, " << residentLate << " KiB late";
    }
    auto const entries = ParseChecksumRecord(dir.Read("crc.ini").value_or(""));
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), std::size_t{1 + kSwitches - 1});
    server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{kConnectionLost});
    EXPECT_EQ(sentinel.Changes(), Lines{});
    EXPECT_EQ(dir.List(), (Lines{"crc.ini", "upd.ini"}));
}

}  // namespace
}  // namespace qm::test
