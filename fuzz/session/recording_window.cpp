#include "session/recording_window.h"

#include "support/display_check.h"
#include "support/escaped.h"
#include "support/violation.h"

namespace qm::fuzz {
namespace {

// No report needs more: the longest names a server can send are 600 bytes.
constexpr std::size_t kLongestReport = 2048;

void CheckShown(std::string_view what, std::string_view text) {
    if (!IsDisplayable(text)) {
        Violation(std::string(what) + " shows text that is not displayable: " + Escaped(text));
    }
    if (text.size() > kLongestReport) {
        Violation(std::string(what) + " shows " + std::to_string(text.size()) + " bytes");
    }
}

}  // namespace

void RecordingWindow::ShowStatus(std::string_view text) {
    CheckShown("the status line", text);
}

void RecordingWindow::ShowTransfer(std::string_view text) {
    CheckShown("the transfer line", text);
}

void RecordingWindow::SetProgress(int percent) {
    Require(percent >= 0 && percent <= 100, "progress outside 0..100");
}

void RecordingWindow::EndWithMessage(update::Ending const& ending) {
    CheckShown("a box caption", ending.caption);
    CheckShown("a box", ending.text);
    Require(errorCount_ <= lastErrorCount_ + 1, "one failure counted more than once");
    lastErrorCount_ = errorCount_;
    boxes_.push_back(Box{ending.caption, ending.text});
}

}  // namespace qm::fuzz
