// A fresh temporary directory for one test (or harness, or benchmark), removed with everything in
// it at the end, never following a symbolic link. By default it is the current directory while it
// lives; helpers write and read files below it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

struct TempDirOptions {
    bool enter = true;               // the current directory while the object lives
    std::string prefix = "qm-test";  // of the directory's name
    // A directory made inside it, which path() then names: the test can also watch what lies
    // just outside, in root().
    std::string inner{};
    std::filesystem::path base{};  // where it is made; empty: the system's temporary directory
};

class TempDir {
  public:
    TempDir() : TempDir(TempDirOptions{}) {}
    explicit TempDir(TempDirOptions const& options);
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    // Absolute, without symbolic links in it.
    std::filesystem::path const& path() const { return path_; }
    std::filesystem::path const& root() const { return root_; }

    // Writes a file below the directory (directories created), with the given permission bits.
    void Write(std::string_view relative, std::string_view content, mode_t mode = 0644) const;
    void Write(std::string_view relative, std::span<const std::uint8_t> content,
               mode_t mode = 0644) const;
    std::optional<std::string> Read(std::string_view relative) const;
    std::optional<std::vector<std::uint8_t>> ReadBytes(std::string_view relative) const;
    bool Exists(std::string_view relative) const;  // a dangling link exists too
    mode_t Mode(std::string_view relative) const;  // permission bits; 0 when missing
    // Every entry below, relative, sorted; directories end in '/'.
    std::vector<std::string> List() const;
    // Bytes that may still be written to the directory's file system.
    std::uint64_t FreeBytes() const;

  private:
    std::filesystem::path root_;
    std::filesystem::path path_;
    std::optional<std::filesystem::path> previous_;
};

// A client directory of the updater inside a private root of the test's own, not entered.
class ClientDir : public TempDir {
  public:
    ClientDir() : TempDir({.enter = false, .prefix = "qm-client", .inner = "client"}) {}
};

// Writes the file, making the directories it lies in first; false when it could not be written.
bool WriteFile(std::filesystem::path const& path, std::string_view contents);
std::string ReadFile(std::filesystem::path const& path);
// The file's bytes; nothing when it cannot be opened.
std::optional<std::string> ReadIfPresent(std::filesystem::path const& path);
// A new directory in `base` whose name starts with `prefix`, made by this call; throws when none
// can be made.
std::filesystem::path MakeUniqueDirectory(std::filesystem::path const& base,
                                          std::string const& prefix);
// Sets the permission bits of `path` where the platform has them.
void SetMode(std::filesystem::path const& path, mode_t mode);
// Removes `path` and everything below it, never following a symbolic link; directories without
// permissions (read-only files on Windows) are opened up first.
void RemoveTree(std::filesystem::path const& path);

}  // namespace qm::test
