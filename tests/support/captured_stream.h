// A stdio stream whose text the test can read back: for code that writes to a FILE*. The stream
// is a binary file of its own in the temporary directory, removed at the end, so that it works
// alike on every platform (no line-end translation).
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace qm::test {

class CapturedStream {
  public:
    CapturedStream() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && stream_ == nullptr; ++attempt) {
            path_ = std::filesystem::temp_directory_path() /
                    ("qm-captured-" + std::to_string(random()) + std::to_string(random()));
            if (!std::filesystem::exists(path_)) {
                stream_ = std::fopen(path_.string().c_str(), "w+b");
            }
        }
        if (stream_ == nullptr) {
            throw std::runtime_error("cannot create a file to capture a stream in");
        }
    }
    ~CapturedStream() {
        std::fclose(stream_);
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    CapturedStream(CapturedStream const&) = delete;
    CapturedStream& operator=(CapturedStream const&) = delete;

    std::FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::filesystem::path path_;
    std::FILE* stream_ = nullptr;
};

}  // namespace qm::test
