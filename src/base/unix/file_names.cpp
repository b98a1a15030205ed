#include "base/file_names.h"

namespace qm::base {

bool NameStartsWith(std::string_view name, std::string_view prefix) {
    return name.starts_with(prefix);
}

std::span<const std::string_view> PlatformWorkingNames() {
    return {};
}

bool IsAliasOfWorkingFile(std::string const& /*path*/,
                          std::function<bool(std::string_view name)> const& /*isWorking*/) {
    return false;
}

}  // namespace qm::base
