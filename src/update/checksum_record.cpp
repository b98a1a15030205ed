#include "update/checksum_record.h"

#include <string>

#include "store/profile_file.h"

namespace qm::update {

bool IsRecordableListName(std::string_view listName) {
    return store::IsProfileKey(listName);
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
