// What some tests lean on that POSIX systems have and Windows has not, and how to use it where it
// exists: permission bits, symbolic links, a limit on the size of files, named pipes. A test that
// needs one asks WhyMissing and skips with the reason given (QM_SKIP_WITHOUT, skip_without.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace qm::test {

enum class PosixFeature {
    PermissionBits,          // chmod(2) bits that decide who may read or write a file
    SymbolicLinks,           // links that any user may make and that the file calls follow
    FileSizeLimit,           // RLIMIT_FSIZE: writes past a size fail with EFBIG
    NamedPipes,              // mkfifo(3): a file name that reads like a stream
    ScriptPrograms,          // an executable "#!/bin/sh" script starts as a program
    ColonsInNames,           // ':' is an ordinary character of a file name
    DirectoriesOpenAsFiles,  // open(2) opens a directory for reading; the reads then fail
};

// Why the platform lacks `feature`; empty when it has it.
std::string_view WhyMissing(PosixFeature feature);
inline bool Has(PosixFeature feature) {
    return WhyMissing(feature).empty();
}

// Makes a named pipe at `path`; false where there are none or it could not be made.
bool MakeNamedPipe(std::filesystem::path const& path);

// Limits the size of the files the process writes to `bytes` while it lives, a write past it
// failing with EFBIG (not killing the process). Where there is no such limit, active() is false.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(FileSizeLimit const&) = delete;
    FileSizeLimit& operator=(FileSizeLimit const&) = delete;

    bool active() const { return active_; }

  private:
    bool active_ = false;
    std::uint64_t saved_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

}  // namespace qm::test
