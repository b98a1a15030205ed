// A fresh client directory for one run of the updater, inside a private temporary root so that
// a test can also watch what lies just outside the client directory. Removed with everything in
// it at the end.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/wire.h"

namespace qm::e2e {

class ClientDir {
  public:
    ClientDir();  // <root>/client, both new
    ~ClientDir();
    ClientDir(ClientDir const&) = delete;
    ClientDir& operator=(ClientDir const&) = delete;

    std::filesystem::path const& path() const { return client_; }
    // The private root that holds the client directory: "outside", but still the test's own.
    std::filesystem::path const& root() const { return root_; }

    // Writes upd.ini with section GENERAL; a missing value leaves its key out.
    void WriteConfig(std::optional<std::string> const& server,
                     std::optional<std::string> const& exe = std::nullopt) const;

    // Writes a file below the client directory (directories created), with the given mode.
    void Write(std::string_view relative, std::span<const std::uint8_t> content,
               mode_t mode = 0644) const;
    void Write(std::string_view relative, std::string_view content, mode_t mode = 0644) const;
    std::optional<Bytes> Read(std::string_view relative) const;
    std::optional<std::string> ReadText(std::string_view relative) const;
    bool Exists(std::string_view relative) const;
    mode_t Mode(std::string_view relative) const;  // permission bits

    // Every entry below the client directory, relative, sorted; directories end in '/'.
    std::vector<std::string> List() const;
    // Entries whose name marks a leftover temporary download.
    std::vector<std::string> TemporaryFiles() const;

  private:
    std::filesystem::path root_;
    std::filesystem::path client_;
};

// The entries below `directory` as ClientDir::List gives them, without following links.
std::vector<std::string> ListTree(std::filesystem::path const& directory);

}  // namespace qm::e2e
