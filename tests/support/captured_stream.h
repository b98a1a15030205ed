// A stdio stream whose text the test can read back: for code that writes to a FILE*.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qm::test {

class CapturedStream {
  public:
    CapturedStream() : stream_(open_memstream(&text_, &size_)) {}
    ~CapturedStream() {
        std::fclose(stream_);
        std::free(text_);
    }
    CapturedStream(CapturedStream const&) = delete;
    CapturedStream& operator=(CapturedStream const&) = delete;

    std::FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        return std::string(text_, size_);
    }

  private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace qm::test
