// Which paths the server may hand to an updater as local paths: plain relative paths with '/'
// separators that fit the 64-byte local-path field with its terminating zero.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm::server {

inline constexpr std::size_t kMaxLocalPathLength = 63;

// Nothing when `path` is fit to send; otherwise why it is not, as a phrase for the operator
// ("is longer than 63 characters"). Refused: empty paths, paths longer than 63 characters,
// absolute paths, empty, "." and ".." components, a trailing '/', drive letters ("C:"), '\' and
// any character outside printable ASCII.
std::optional<std::string> LocalPathProblem(std::string_view path);

}  // namespace qm::server
