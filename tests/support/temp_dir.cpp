#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/tree_snapshot.h"

namespace qm::test {

namespace fs = std::filesystem;

TempDir::TempDir(TempDirOptions const& options) {
    fs::path const base = options.base.empty() ? fs::temp_directory_path() : options.base;
    root_ = fs::canonical(MakeUniqueDirectory(base, options.prefix));
    path_ = options.inner.empty() ? root_ : root_ / options.inner;
    fs::create_directories(path_);
    if (options.enter) {
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
}

TempDir::~TempDir() {
    if (previous_) {
        std::error_code ignored;
        fs::current_path(*previous_, ignored);
    }
    RemoveTree(root_);
}

void TempDir::Write(std::string_view relative, std::string_view content, mode_t mode) const {
    fs::path const target = path_ / relative;
    if (!WriteFile(target, content)) {
        throw std::runtime_error("cannot write " + target.string());
    }
    SetMode(target, mode);
}

void TempDir::Write(std::string_view relative, std::span<const std::uint8_t> content,
                    mode_t mode) const {
    Write(relative, std::string_view(reinterpret_cast<char const*>(content.data()), content.size()),
          mode);
}

std::optional<std::string> TempDir::Read(std::string_view relative) const {
    return ReadIfPresent(path_ / relative);
}

std::optional<std::vector<std::uint8_t>> TempDir::ReadBytes(std::string_view relative) const {
    std::optional<std::string> const text = Read(relative);
    return text ? std::optional(std::vector<std::uint8_t>(text->begin(), text->end()))
                : std::nullopt;
}

bool TempDir::Exists(std::string_view relative) const {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path_ / relative, ignored));
}

std::vector<std::string> TempDir::List() const {
    return ListedPaths(SnapshotTree(path_));
}

bool WriteFile(fs::path const& path, std::string_view contents) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out);
}

std::string ReadFile(fs::path const& path) {
    return ReadIfPresent(path).value_or("");
}

std::optional<std::string> ReadIfPresent(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qm::test
