#include "update/checksum_record.h"

#include <string>

#include "store/profile_file.h"

namespace qm::update {

bool IsRecordableListName(std::string_view listName) {
    if (listName.empty() || listName.front() == '[' || listName.front() == ';') {
        return false;
    }
    // Blanks around a key are trimmed when the file is read, so such a name would not be found.
    if (listName.front() == ' ' || listName.front() == '\t' || listName.back() == ' ' ||
        listName.back() == '\t') {
        return false;
    }
    return listName.find_first_of(std::string_view("\r\n=\0", 4)) == std::string_view::npos;
}

bool RecordListChecksum(std::string_view listName, std::uint32_t checksum) {
    if (!IsRecordableListName(listName)) {
        return true;
    }
    return store::WriteProfileValue(kChecksumFile, kChecksumSection, listName,
                                    std::to_string(static_cast<unsigned long>(checksum)));
}

void RemoveChecksumRecordLeftovers() {
    store::RemoveProfileLeftovers(kChecksumFile);
}

std::uint32_t RecordedListChecksum(std::string_view listName) {
    if (!IsRecordableListName(listName)) {
        return 0;
    }
    auto value = store::ReadProfileValue(kChecksumFile, kChecksumSection, listName);
    return static_cast<std::uint32_t>(store::ParseUnsignedValue(value));
}

}  // namespace qm::update
