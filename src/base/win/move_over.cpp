#include "base/win/move_over.h"

#include <random>
#include <thread>

#include "base/replacement_file.h"
#include "base/win/system_path.h"

namespace qm::base::win {
namespace {

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

bool IsSharingViolation(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Errors of a target that is in use, which renaming it aside may get round.
bool IsInUse(DWORD error) {
    return IsSharingViolation(error) || error == ERROR_ACCESS_DENIED ||
           error == ERROR_USER_MAPPED_FILE;
}

DWORD Attempt(MoveCalls const& calls, std::wstring const& from, std::wstring const& to,
              DWORD flags) {
    return calls.move(from.c_str(), to.c_str(), flags) ? 0 : ::GetLastError();
}

}  // namespace

MoveCalls SystemMoveCalls() {
    return MoveCalls{[](wchar_t const* from, wchar_t const* to, DWORD flags) {
                         return ::MoveFileExW(from, to, flags);
                     },
                     [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
                     [] { return std::chrono::steady_clock::now(); }};
}

std::string RandomSuffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kLetters) - 2);
    std::string suffix;
    for (std::size_t i = 0; i < kTemporarySuffixLength; ++i) {
        suffix += kLetters[pick(random)];
    }
    return suffix;
}

std::wstring SetAsideName(std::wstring const& to) {
    return to.substr(0, to.find_last_of(L'\\') + 1) + Widen(kSetAsidePrefix + RandomSuffix());
}

DWORD MoveOver(std::wstring const& from, std::wstring const& to, bool mayBeSetAside,
               MoveCalls const& calls, std::wstring& setAside) {
    auto const deadline = calls.now() + kSharingRetryLimit;
    DWORD error = Attempt(calls, from, to, kReplace);
    while (IsSharingViolation(error) && calls.now() < deadline) {
        calls.sleep(kSharingRetryStep);
        error = Attempt(calls, from, to, kReplace);
    }
    if (!IsInUse(error) || !mayBeSetAside) {
        return error;
    }
    std::wstring const aside = SetAsideName(to);
    if (Attempt(calls, to, aside, MOVEFILE_WRITE_THROUGH) != 0) {
        return error;  // the target cannot even be renamed: the first reason stands
    }
    DWORD const placed = Attempt(calls, from, to, MOVEFILE_WRITE_THROUGH);
    if (placed != 0) {
        Attempt(calls, aside, to, MOVEFILE_WRITE_THROUGH);  // the target goes back
        return placed;
    }
    setAside = aside;
    return 0;
}

}  // namespace qm::base::win
