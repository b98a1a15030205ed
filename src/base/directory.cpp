#include "base/directory.h"

namespace qm::base {

int Directory::RemoveLeftovers(std::string_view prefix, std::size_t suffixLength) const {
    return RemoveFilesIf([&](std::string_view name) {
        return name.size() == prefix.size() + suffixLength && name.starts_with(prefix);
    });
}

std::string DirectoryOf(std::string_view path) {
    std::size_t const slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string_view BaseName(std::string_view path) {
    std::size_t const slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace qm::base
