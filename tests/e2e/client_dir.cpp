#include "e2e/client_dir.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qm::e2e {
namespace {

namespace fs = std::filesystem;

// The updater names its temporary download files with this prefix; "tmpfile" is the name a
// download through the system's temporary directory would use.
bool LooksTemporary(fs::path const& name) {
    std::string const text = name.filename().string();
    return text.starts_with(".quillmesh-download-") || text == "tmpfile";
}

}  // namespace

std::vector<std::string> ListTree(fs::path const& directory) {
    std::vector<std::string> entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(directory, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string relative = fs::relative(it->path(), directory).string();
        if (it->is_directory() && !it->is_symlink()) {
            relative += '/';
        }
        entries.push_back(relative);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

ClientDir::ClientDir() {
    std::string pattern = (fs::temp_directory_path() / "qm-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    client_ = root_ / "client";
    fs::create_directory(client_);
}

ClientDir::~ClientDir() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);  // does not follow symbolic links
}

void ClientDir::WriteConfig(std::optional<std::string> const& server,
                            std::optional<std::string> const& exe) const {
    std::string text = "[GENERAL]\n";
    if (server) {
        text += "SERVER=" + *server + "\n";
    }
    if (exe) {
        text += "EXE=" + *exe + "\n";
    }
    Write("upd.ini", text);
}

void ClientDir::Write(std::string_view relative, std::span<const std::uint8_t> content,
                      mode_t mode) const {
    fs::path const target = client_ / relative;
    fs::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<char const*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + target.string());
        }
    }
    ::chmod(target.c_str(), mode);
}

void ClientDir::Write(std::string_view relative, std::string_view content, mode_t mode) const {
    Write(relative, ToBytes(content), mode);
}

std::optional<Bytes> ClientDir::Read(std::string_view relative) const {
    std::ifstream in(client_ / relative, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<std::string> ClientDir::ReadText(std::string_view relative) const {
    std::optional<Bytes> const bytes = Read(relative);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

bool ClientDir::Exists(std::string_view relative) const {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(client_ / relative, ignored));
}

mode_t ClientDir::Mode(std::string_view relative) const {
    struct stat info {};
    if (::stat((client_ / relative).c_str(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

std::vector<std::string> ClientDir::List() const {
    return ListTree(client_);
}

std::vector<std::string> ClientDir::TemporaryFiles() const {
    std::vector<std::string> found;
    for (std::string const& entry : List()) {
        if (LooksTemporary(entry)) {
            found.push_back(entry);
        }
    }
    return found;
}

}  // namespace qm::e2e
