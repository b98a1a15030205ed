#include "update_server/local_path_rule.h"

#include <algorithm>

namespace qm::server {
namespace {

bool IsPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7E;
}

bool IsDriveLetter(std::string_view component) {
    return component.size() >= 2 && component[1] == ':' &&
           ((component[0] >= 'A' && component[0] <= 'Z') ||
            (component[0] >= 'a' && component[0] <= 'z'));
}

std::optional<std::string> ComponentProblem(std::string_view component, bool first) {
    if (component.empty()) {
        return "has an empty component";
    }
    if (component == "." || component == "..") {
        return "has a '" + std::string(component) + "' component";
    }
    if (first && IsDriveLetter(component)) {
        return "starts with a drive letter";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> LocalPathProblem(std::string_view path) {
    if (path.empty()) {
        return "is empty";
    }
    if (path.size() > kMaxLocalPathLength) {
        return "is longer than " + std::to_string(kMaxLocalPathLength) + " characters";
    }
    if (!std::all_of(path.begin(), path.end(), IsPrintableAscii)) {
        return "has a character outside printable ASCII";
    }
    if (path.find('\\') != std::string_view::npos) {
        return "has a '\\' (use '/' between directories)";
    }
    if (path.front() == '/') {
        return "is absolute";
    }
    std::size_t start = 0;
    for (std::size_t end = 0; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') {
            continue;
        }
        if (auto problem = ComponentProblem(path.substr(start, end - start), start == 0)) {
            return problem;
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace qm::server
