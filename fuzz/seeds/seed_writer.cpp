#include "seeds/seed_writer.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace qm::fuzz::seeds {

SeedWriter::SeedWriter(std::string directory) : directory_(std::move(directory)) {
    std::filesystem::create_directories(directory_);
}

void SeedWriter::Write(std::string_view name, Bytes const& seed) {
    std::string const path = directory_ + "/" + std::string(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(seed.data(), 1, seed.size(), file) != seed.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    std::fclose(file);
    ++written_;
}

}  // namespace qm::fuzz::seeds
