// The record of list checksums in ./crc.ini, section GLOBAL_CRC: one key per list name, the
// list's checksum as an unsigned decimal number.
#pragma once

#include <cstdint>
#include <string_view>

namespace qm::update {

inline constexpr char kChecksumFile[] = "./crc.ini";
inline constexpr char kChecksumSection[] = "GLOBAL_CRC";

// A list name can be a key only when it reads back as the same key (store::IsProfileKey): not
// empty, no CR, LF, '=' or NUL, not starting with '[' or ';', no blank at either end.
bool IsRecordableListName(std::string_view listName);

// Writes the checksum under the list name. Returns false when the file could not be written.
// A name that is not recordable is not written, which is no failure: it reads as missing.
bool RecordListChecksum(std::string_view listName, std::uint32_t checksum);

// Removes what an interrupted write of the record left behind.
void RemoveChecksumRecordLeftovers();

// The recorded checksum of a list; 0 when there is none.
std::uint32_t RecordedListChecksum(std::string_view listName);

}  // namespace qm::update
