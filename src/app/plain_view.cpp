#include "app/plain_view.h"

#include <algorithm>

namespace qm::app {

void PlainView::Print(std::string_view prefix, std::string_view text) {
    std::fprintf(out_, "%.*s: %.*s\n", static_cast<int>(prefix.size()), prefix.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

void PlainView::FlushTransfer() {
    if (transferPending_) {
        Print("transfer", std::string_view(pendingTransfer_.data(), pendingLength_));
        transferPending_ = false;
    }
}

void PlainView::ShowStatus(std::string_view text) {
    FlushTransfer();
    // A new status starts a new file: its first transfer line is shown again.
    transferPercent_ = -1;
    Print("status", text);
}

void PlainView::ShowTransfer(std::string_view text) {
    FlushTransfer();
    pendingLength_ = std::min(text.size(), pendingTransfer_.size());
    std::copy_n(text.begin(), pendingLength_, pendingTransfer_.begin());
    transferPending_ = true;
}

void PlainView::SetProgress(int percent) {
    if (transferPending_) {
        if (percent != transferPercent_) {
            transferPercent_ = percent;
            FlushTransfer();
        }
        transferPending_ = false;
    }
    if (percent != progress_) {
        progress_ = percent;
        Print("progress", std::to_string(percent));
    }
}

void PlainView::ShowMessageBox(std::string_view caption, std::string_view text) {
    FlushTransfer();
    std::fprintf(out_, "box: [%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

void PlainView::ShowLaunch(std::string_view commandLine) {
    FlushTransfer();
    Print("launch", commandLine);
}

void PlainView::Close() {
    FlushTransfer();
}

}  // namespace qm::app
