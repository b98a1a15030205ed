#include "random_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace qm::bench {

void WriteRandomFile(std::string const& path, std::uint64_t size, std::mt19937_64& random) {
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::uint64_t> block(std::min<std::uint64_t>(size, 1 << 20) / 8 + 1);
    bool good = fd >= 0;
    for (std::uint64_t written = 0; good && written < size;) {
        for (auto& word : block) {
            word = random();
        }
        std::size_t const count = static_cast<std::size_t>(
            std::min<std::uint64_t>(size - written, block.size() * sizeof(std::uint64_t)));
        good = ::write(fd, block.data(), count) == static_cast<ssize_t>(count);
        written += count;
    }
    if (fd < 0 || ::close(fd) != 0 || !good) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace qm::bench
