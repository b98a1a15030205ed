#include <windows.h>

#include <algorithm>

#include "base/win/system_path.h"
#include "checksum/crc32_read_only_file.h"

namespace qm::checksum {
namespace {

DWORD ReadSize(std::span<std::uint8_t> buffer) {
    return static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
}

}  // namespace

ReadOnlyFile::ReadOnlyFile(std::string const& path)
    : file_(base::win::Own(::CreateFileW(
          base::win::SystemPath(path).c_str(), GENERIC_READ,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {}

std::optional<std::uint64_t> ReadOnlyFile::RegularFileSize() const {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(base::win::AsHandle(file_), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}

// The file was opened for sequential reading (FILE_FLAG_SEQUENTIAL_SCAN).
void ReadOnlyFile::AdviseSequentialReading() const {}

std::size_t ReadOnlyFile::ReadSome(std::span<std::uint8_t> buffer) const {
    DWORD got = 0;
    if (!::ReadFile(base::win::AsHandle(file_), buffer.data(), ReadSize(buffer), &got, nullptr)) {
        return 0;
    }
    return got;
}

// Several threads read at offsets of their own. On a synchronous handle a read at an offset
// also moves the file position, which only ReadSome uses, and no pass mixes the two at once.
std::size_t ReadOnlyFile::ReadSomeAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
    return base::ReadNativeAt(file_.get(), buffer, offset);
}

bool ReadOnlyFile::SeekTo(std::uint64_t offset) const {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(base::win::AsHandle(file_), position, nullptr, FILE_BEGIN) != 0;
}

}  // namespace qm::checksum
