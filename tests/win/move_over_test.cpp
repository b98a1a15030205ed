// The last step of a replacement, through the seam of its system calls: what wine cannot show
// (a virus scanner holding the new file, a running program as the target) is played by the fake.
#include "base/win/move_over.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "base/replacement_file.h"

namespace qm::base::win {
namespace {

using namespace std::chrono_literals;

// Answers each move with the next error of its script (0: success) and keeps the time it says.
struct ScriptedMoves {
    std::deque<DWORD> answers;
    std::vector<std::wstring> moves;  // "from -> to"
    std::chrono::steady_clock::time_point now{};

    MoveCalls Calls() {
        return MoveCalls{[this](wchar_t const* from, wchar_t const* to, DWORD) {
                             moves.push_back(std::wstring(from) + L" -> " + to);
                             DWORD const answer = answers.empty() ? 0 : answers.front();
                             if (!answers.empty()) {
                                 answers.pop_front();
                             }
                             ::SetLastError(answer);
                             return answer == 0 ? TRUE : FALSE;
                         },
                         [this](std::chrono::milliseconds pause) { now += pause; },
                         [this] { return now; }};
    }
};

constexpr wchar_t kNew[] = LR"(\\?\C:\client\.quillmesh-download-abcdef)";
constexpr wchar_t kTarget[] = LR"(\\?\C:\client\quillmesh.exe)";

TEST(MoveOver, ASharingViolationIsTriedAgainUntilItPasses) {
    ScriptedMoves scripted;
    scripted.answers = {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, 0};
    std::wstring aside;
    EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside), 0u);
    EXPECT_EQ(scripted.moves.size(), 4u);
    EXPECT_TRUE(aside.empty()) << "nothing was set aside";
    EXPECT_EQ(scripted.now.time_since_epoch(), 3 * kSharingRetryStep);
}

TEST(MoveOver, ATargetInUseIsRenamedAsideAndTheNewFilePutInItsPlace) {
    for (DWORD const refusal : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_USER_MAPPED_FILE}}) {
        ScriptedMoves scripted;
        scripted.answers = {refusal, 0, 0};
        std::wstring aside;
        EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside), 0u);
        ASSERT_EQ(scripted.moves.size(), 3u);
        EXPECT_TRUE(aside.starts_with(LR"(\\?\C:\client\.quillmesh-replaced-)")) << aside;
        EXPECT_EQ(aside.size(), std::wstring_view(LR"(\\?\C:\client\.quillmesh-replaced-)").size() +
                                    kTemporarySuffixLength);
        EXPECT_EQ(scripted.moves[1], std::wstring(kTarget) + L" -> " + aside);
        EXPECT_EQ(scripted.moves[2], std::wstring(kNew) + L" -> " + kTarget);
        EXPECT_EQ(scripted.now.time_since_epoch(), 0ms) << "a denial is not waited on";
    }
}

TEST(MoveOver, AHeldTargetIsSetAsideAfterTheRetriesRunOut) {
    ScriptedMoves scripted;
    std::size_t const attempts = kSharingRetryLimit / kSharingRetryStep + 1;
    scripted.answers.assign(attempts, ERROR_SHARING_VIOLATION);
    scripted.answers.push_back(0);  // the rename aside
    scripted.answers.push_back(0);  // the new file in place
    std::wstring aside;
    EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside), 0u);
    EXPECT_FALSE(aside.empty());
    EXPECT_GE(scripted.now.time_since_epoch(), kSharingRetryLimit);
    EXPECT_LE(scripted.now.time_since_epoch(), kSharingRetryLimit + kSharingRetryStep);
}

TEST(MoveOver, ATargetThatCannotBeRenamedEitherFailsWithTheFirstReason) {
    ScriptedMoves scripted;
    std::size_t const attempts = kSharingRetryLimit / kSharingRetryStep + 1;
    scripted.answers.assign(attempts, ERROR_SHARING_VIOLATION);
    scripted.answers.push_back(ERROR_SHARING_VIOLATION);  // the rename aside
    std::wstring aside;
    EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside),
              DWORD{ERROR_SHARING_VIOLATION});
    EXPECT_TRUE(aside.empty());
    EXPECT_EQ(scripted.moves.size(), attempts + 1);
}

TEST(MoveOver, ANewFileThatCannotTakeThePlacePutsTheTargetBack) {
    ScriptedMoves scripted;
    scripted.answers = {ERROR_ACCESS_DENIED, 0, ERROR_ACCESS_DENIED, 0};
    std::wstring aside;
    EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside), DWORD{ERROR_ACCESS_DENIED});
    ASSERT_EQ(scripted.moves.size(), 4u);
    EXPECT_TRUE(scripted.moves[3].ends_with(std::wstring(L" -> ") + kTarget)) << "put back";
    EXPECT_TRUE(aside.empty());
}

TEST(MoveOver, ADirectoryInTheWayIsNeverSetAside) {
    ScriptedMoves scripted;
    scripted.answers = {ERROR_ACCESS_DENIED, 0, 0};
    std::wstring aside;
    EXPECT_EQ(MoveOver(kNew, kTarget, false, scripted.Calls(), aside), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(scripted.moves.size(), 1u) << "its files would go with it";
    EXPECT_TRUE(aside.empty());
}

TEST(MoveOver, OtherErrorsEndAtOnce) {
    for (DWORD const error : {DWORD{ERROR_DISK_FULL}, DWORD{ERROR_PATH_NOT_FOUND}}) {
        ScriptedMoves scripted;
        scripted.answers = {error};
        std::wstring aside;
        EXPECT_EQ(MoveOver(kNew, kTarget, true, scripted.Calls(), aside), error);
        EXPECT_EQ(scripted.moves.size(), 1u);
    }
}

}  // namespace
}  // namespace qm::base::win
