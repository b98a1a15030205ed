#include "store/path_check.h"

#include <cctype>
#include <vector>

namespace qm::store {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::vector<std::string_view> SplitComponents(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            components.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return components;
}

bool StartsWithDriveLetter(std::string_view component) {
    return component.size() >= 2 && std::isalpha(static_cast<unsigned char>(component[0])) != 0 &&
           component[1] == ':';
}

// Refusals that need only the text of the path.
bool IsPlainRelativePath(std::string_view path) {
    if (path.empty() || IsSeparator(path.front()) || path.find('\0') != std::string_view::npos) {
        return false;
    }
    std::vector<std::string_view> const components = SplitComponents(path);
    if (StartsWithDriveLetter(components.front())) {
        return false;
    }
    for (std::string_view component : components) {
        if (component == "..") {
            return false;
        }
    }
    return true;
}

}  // namespace

bool StaysInsideCurrentDirectory(std::string_view localPath) {
    return IsPlainRelativePath(localPath) && FileSystemKeepsInside(localPath);
}

}  // namespace qm::store
