// A test fixture whose every test runs in a fresh temporary directory, the current directory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::test {

class TempDirTest : public ::testing::Test {
  protected:
    std::filesystem::path const& Root() const { return dir_.path(); }
    // Permission bits of `relative`; 0 when it is missing.
    mode_t Mode(std::string_view relative) const { return dir_.Mode(relative); }

    // Writes `bytes` to `path`; a failure fails the test.
    static void WriteFile(std::filesystem::path const& path, std::string const& bytes) {
        ASSERT_TRUE(qm::test::WriteFile(path, bytes)) << path;
    }
    static std::string ReadFile(std::filesystem::path const& path) {
        return qm::test::ReadFile(path);
    }

    // The names in the current directory, sorted.
    static std::vector<std::string> Listing() {
        std::vector<std::string> names;
        for (auto const& entry : std::filesystem::directory_iterator(".")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    TempDir dir_;
};

}  // namespace qm::test
