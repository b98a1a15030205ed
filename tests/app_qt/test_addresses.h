// The loopback address of each window test that listens. The protocol port is fixed, so tests
// that may run at the same time each listen on their own 127.0.0.N; every N is handed out here.
#pragma once

namespace qm::app::qt::test {

inline constexpr char kDownloadThenEscape[] = "127.0.0.150";
inline constexpr char kCompleteRun[] = "127.0.0.151";
inline constexpr char kCloseBoxBeforeConnect[] = "127.0.0.152";
inline constexpr char kNoAnnouncement[] = "127.0.0.153";
inline constexpr char kSilentDisplay[] = "127.0.0.154";  // an X display that never answers
inline constexpr char kProgramWithWindow[] = "127.0.0.155";

}  // namespace qm::app::qt::test
