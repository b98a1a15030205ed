// The system calls of a program as strace records them with `-f -y -xx` (every string and every
// descriptor's path written as \xHH escapes), read back one call a line: a call that strace split
// ("<unfinished ...>", then "<... resumed>") is joined again and stands where it ended. Lines of
// signals and exits are left out. Used to find a run's steps from outside the program, and to
// replay what it did to its files.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

struct TracedCall {
    pid_t pid = 0;
    std::string name;
    std::vector<std::string> arguments;  // as strace wrote them, split at the top-level commas
    long result = 0;                     // -1 for a failure (then `error` names the errno)
    std::string error;
    std::string resultPath;  // the path strace gave a descriptor that the call returned

    bool failed() const { return result < 0; }
    // The decoded string of argument `index` ("\x61\x62" -> "ab"); nothing when it is no string
    // or strace cut it short.
    std::optional<std::string> String(std::size_t index) const;
    // The descriptor number and path of argument `index` ("5</a/b>", "AT_FDCWD</a>").
    std::optional<int> Descriptor(std::size_t index) const;
    std::optional<std::string> DescriptorPath(std::size_t index) const;
    // The argument as a number (decimal, octal 0NNN or hexadecimal 0xNN).
    std::optional<long> Number(std::size_t index) const;
    // Whether a flags argument names `flag` ("O_RDWR|O_CREAT" holds "O_CREAT").
    bool HasFlag(std::size_t index, std::string_view flag) const;
};

inline constexpr int kAtCurrentDirectory = -100;  // AT_FDCWD

// The calls of a log written with `strace -f -y -xx -o FILE`; throws std::runtime_error on a line
// it cannot read.
std::vector<TracedCall> ReadSyscallTrace(std::string const& log);

// What a traced run names with `-e trace=`: the calls that change files or make them durable,
// the sends (so that the end of a conversation can be found), and the descriptor bookkeeping
// that a replay needs.
std::string TracedFileCalls();

}  // namespace qm::test
