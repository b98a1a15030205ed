// Writes the seeds of one harness into its corpus directory, one file per seed, named after
// what the seed is.
#pragma once

#include <string>
#include <string_view>

#include "support/wire.h"

namespace qm::fuzz::seeds {

using test::Bytes;
using test::Joined;
using test::ToBytes;

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

void WriteSessionSeeds(SeedWriter& writer);
void WriteWelcomeSeeds(SeedWriter& writer);
void WriteProfileSeeds(SeedWriter& writer);
void WritePathSeeds(SeedWriter& writer);

}  // namespace qm::fuzz::seeds
