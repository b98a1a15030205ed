// A fresh temporary directory that is the current directory while a test runs.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qm::store::testing {

class ScratchDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::string name = (std::filesystem::temp_directory_path() / "qm-store-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        root_ = name;
        std::filesystem::current_path(root_);
    }

    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(root_);
    }

    std::filesystem::path const& Root() const { return root_; }

    static void WriteFile(std::filesystem::path const& path, std::string const& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << path;
    }

    static std::string ReadFile(std::filesystem::path const& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    std::filesystem::path previous_;
    std::filesystem::path root_;
};

}  // namespace qm::store::testing
