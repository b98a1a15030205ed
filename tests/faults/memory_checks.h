// Resident memory says nothing under AddressSanitizer, whose quarantine and shadow memory grow
// with every allocation; the memory checks then stand aside and the rest of each test still runs.
#pragma once

namespace qm::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryIsMeasurable = false;
#else
inline constexpr bool kMemoryIsMeasurable = true;
#endif

}  // namespace qm::test
