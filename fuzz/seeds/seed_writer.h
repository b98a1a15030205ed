// Writes the seeds of one harness into its corpus directory, one file per seed, named after
// what the seed is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::fuzz::seeds {

using Bytes = std::vector<std::uint8_t>;

class SeedWriter {
  public:
    // Creates `directory` when it is missing.
    explicit SeedWriter(std::string directory);

    void Write(std::string_view name, Bytes const& seed);

    int written() const { return written_; }

  private:
    std::string directory_;
    int written_ = 0;
};

Bytes TextBytes(std::string_view text);

void WriteSessionSeeds(SeedWriter& writer);
void WriteWelcomeSeeds(SeedWriter& writer);
void WriteProfileSeeds(SeedWriter& writer);
void WritePathSeeds(SeedWriter& writer);

}  // namespace qm::fuzz::seeds
