#include "support/syscall_trace.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>
#include <stdexcept>

namespace qm::test {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// "\x61\x62" -> "ab"; other characters stand for themselves (strace escapes all of them with -xx).
std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            HexDigit(text[i + 2]) >= 0 && HexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Walks `text` from `from`, passing over quoted strings, and calls `at(index, character, depth)`
// for each character outside them, with the depth of brackets after it, until `at` returns true:
// the index where it did, or npos.
template <typename At>
std::size_t Scan(std::string_view text, std::size_t from, At at) {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = from; i < text.size(); ++i) {
        char const c = text[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            continue;
        }
        if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        }
        if (at(i, c, depth)) {
            return i;
        }
    }
    return std::string_view::npos;
}

// The index just past the bracket that closes the one at `open`.
std::size_t Closing(std::string_view text, std::size_t open) {
    std::size_t const close =
        Scan(text, open, [](std::size_t, char, int depth) { return depth == 0; });
    return close == std::string_view::npos ? close : close + 1;
}

std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> arguments;
    std::size_t start = 0;
    Scan(text, 0, [&](std::size_t i, char c, int depth) {
        if (c == ',' && depth == 0) {
            arguments.emplace_back(text.substr(start, i - start));
            start = std::min(text.find_first_not_of(' ', i + 1), text.size());
        }
        return false;
    });
    if (start < text.size()) {
        arguments.emplace_back(text.substr(start));
    }
    return arguments;
}

// "NAME(ARGUMENTS) = RESULT[<path>] [ERRNO (text)]"
TracedCall ReadCall(pid_t pid, std::string_view text) {
    TracedCall call;
    call.pid = pid;
    std::size_t const open = text.find('(');
    std::size_t const close = open == std::string_view::npos ? open : Closing(text, open);
    // strace pads short calls with blanks before the " = ".
    std::size_t const equals =
        close == std::string_view::npos ? close : text.find_first_not_of(' ', close);
    if (equals == std::string_view::npos || text.substr(equals, 2) != "= ") {
        throw std::runtime_error("unreadable trace line: " + std::string(text.substr(0, 200)));
    }
    call.name = std::string(text.substr(0, open));
    call.arguments = SplitArguments(text.substr(open + 1, close - open - 2));
    std::string_view rest = text.substr(equals + 2);
    std::size_t const end = rest.find_first_of(" <");
    std::string_view const number = rest.substr(0, end);
    if (number == "?") {
        call.result = -1;
        call.error = "?";
        return call;
    }
    bool const hex = number.starts_with("0x");
    auto const [ptr, ec] = std::from_chars(
        number.data() + (hex ? 2 : 0), number.data() + number.size(), call.result, hex ? 16 : 10);
    if (ec != std::errc() || ptr != number.data() + number.size()) {
        throw std::runtime_error("unreadable result: " + std::string(text.substr(0, 200)));
    }
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (rest.starts_with("<")) {
        std::size_t const pathEnd = rest.find('>');
        call.resultPath = Unescaped(rest.substr(1, pathEnd - 1));
        rest = rest.substr(pathEnd + 1);
    }
    if (call.result < 0 && rest.starts_with(" ")) {
        call.error = std::string(rest.substr(1, rest.find(' ', 1) - 1));
    }
    return call;
}

}  // namespace

std::optional<std::string> TracedCall::String(std::size_t index) const {
    if (index >= arguments.size()) {
        return std::nullopt;
    }
    std::string_view const text = arguments[index];
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return std::nullopt;  // no string, or one followed by "..." (cut short)
    }
    return Unescaped(text.substr(1, text.size() - 2));
}

std::optional<int> TracedCall::Descriptor(std::size_t index) const {
    if (index >= arguments.size()) {
        return std::nullopt;
    }
    std::string_view const text = arguments[index];
    std::string_view const number = text.substr(0, text.find('<'));
    if (number == "AT_FDCWD") {
        return kAtCurrentDirectory;
    }
    int fd = 0;
    auto const [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), fd);
    if (ec != std::errc() || ptr != number.data() + number.size()) {
        return std::nullopt;
    }
    return fd;
}

std::optional<std::string> TracedCall::DescriptorPath(std::size_t index) const {
    if (index >= arguments.size()) {
        return std::nullopt;
    }
    std::string_view const text = arguments[index];
    std::size_t const open = text.find('<');
    if (open == std::string_view::npos || !text.ends_with(">")) {
        return std::nullopt;
    }
    return Unescaped(text.substr(open + 1, text.size() - open - 2));
}

std::optional<long> TracedCall::Number(std::size_t index) const {
    if (index >= arguments.size()) {
        return std::nullopt;
    }
    std::string_view text = arguments[index];
    bool const negative = text.starts_with("-");
    if (negative) {
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x")) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text.starts_with("0")) {
        base = 8;
        text.remove_prefix(1);
    }
    long value = 0;
    auto const [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

bool TracedCall::HasFlag(std::size_t index, std::string_view flag) const {
    if (index >= arguments.size()) {
        return false;
    }
    std::string_view text = arguments[index];
    while (!text.empty()) {
        std::size_t const bar = text.find('|');
        if (text.substr(0, bar) == flag) {
            return true;
        }
        text = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 1);
    }
    return false;
}

std::vector<TracedCall> ReadSyscallTrace(std::string const& log) {
    constexpr std::string_view kUnfinished = " <unfinished ...>";
    std::vector<TracedCall> calls;
    std::map<pid_t, std::string> unfinished;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::size_t const blank = line.find(' ');
        pid_t pid = 0;
        if (blank == std::string::npos ||
            std::from_chars(line.data(), line.data() + blank, pid).ec != std::errc()) {
            throw std::runtime_error("trace line without a process id: " + line.substr(0, 200));
        }
        // strace pads the process id to a width of its own.
        std::string_view text = std::string_view(line).substr(blank);
        text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
        if (text.starts_with("---") || text.starts_with("+++")) {
            continue;
        }
        std::string joined;
        if (text.starts_with("<... ")) {
            std::size_t const resumed = text.find(" resumed>");
            auto const begun = unfinished.find(pid);
            if (resumed == std::string_view::npos || begun == unfinished.end()) {
                throw std::runtime_error("a resumed call that never began: " + line.substr(0, 200));
            }
            joined = begun->second + std::string(text.substr(resumed + 9));
            unfinished.erase(begun);
            text = joined;
        } else if (text.ends_with(kUnfinished)) {
            unfinished[pid] = std::string(text.substr(0, text.size() - kUnfinished.size()));
            continue;
        }
        calls.push_back(ReadCall(pid, text));
    }
    return calls;
}

std::string TracedFileCalls() {
    return "openat,open,creat,write,pwrite64,writev,ftruncate,truncate,fsync,fdatasync,"
           "sync_file_range,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,fchmod,"
           "fchmodat,chmod,lseek,close,dup,dup2,dup3,fcntl,link,linkat,symlink,symlinkat,sync,"
           "syncfs,sendto,sendmsg";
}

}  // namespace qm::test
