#include <random>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"

namespace qm::test {

namespace fs = std::filesystem;

std::filesystem::path MakeUniqueDirectory(fs::path const& base, std::string const& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path const candidate = base / (prefix + "-" + std::to_string(random() % 1000000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            return candidate;
        }
    }
    throw std::runtime_error("cannot create a directory in " + base.string());
}

void SetMode(fs::path const&, mode_t) {}

mode_t TempDir::Mode(std::string_view relative) const {
    std::error_code error;
    fs::file_status const status = fs::status(path_ / relative, error);
    if (error || !fs::exists(status)) {
        return 0;
    }
    return static_cast<mode_t>(status.permissions() & fs::perms::mask);
}

std::uint64_t TempDir::FreeBytes() const {
    std::error_code error;
    fs::space_info const space = fs::space(path_, error);
    return error ? 0 : space.available;
}

void RemoveTree(fs::path const& path) {
    std::error_code error;
    if (fs::remove_all(path, error) != static_cast<std::uintmax_t>(-1) && !error) {
        return;
    }
    // Read-only files stop the removal: make everything writable and try again.
    for (auto it = fs::recursive_directory_iterator(path, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(path, error);
}

}  // namespace qm::test
