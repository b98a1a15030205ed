#include "app/plain_view.h"

#include <gtest/gtest.h>

#include <string>

#include "support/captured_stream.h"

namespace qm::app {
namespace {

using Output = test::CapturedStream;

TEST(PlainView, OneFlushedLinePerEvent) {
    Output out;
    PlainView view(out.stream());
    view.ShowStatus("connecting...");
    view.ShowMessageBox("Network error", "unable to join the server :-(");
    view.ShowLaunch("client UPDATED");
    EXPECT_EQ(out.text(),
              "status: connecting...\n"
              "box: [Network error] unable to join the server :-(\n"
              "launch: client UPDATED\n");
}

TEST(PlainView, TransferLinesOnlyWhenThePercentageChanges) {
    Output out;
    PlainView view(out.stream());
    view.ShowStatus("file:a 5000 bytes...");
    view.SetProgress(0);
    int const percents[] = {0, 0, 40, 40, 81, 100};
    for (int percent : percents) {
        view.ShowTransfer("line " + std::to_string(percent));
        view.SetProgress(percent);
    }
    view.ShowStatus("file:b 10 bytes...");
    view.SetProgress(0);
    view.ShowTransfer("line b0");
    view.SetProgress(0);
    EXPECT_EQ(out.text(),
              "status: file:a 5000 bytes...\n"
              "progress: 0\n"
              "transfer: line 0\n"
              "transfer: line 40\n"
              "progress: 40\n"
              "transfer: line 81\n"
              "progress: 81\n"
              "transfer: line 100\n"
              "progress: 100\n"
              "status: file:b 10 bytes...\n"
              "progress: 0\n"
              "transfer: line b0\n");
}

TEST(PlainView, TransferWithoutProgressIsStillShown) {
    Output out;
    PlainView view(out.stream());
    view.ShowTransfer("12 bytes received  (3 %)");
    view.ShowMessageBox("Program exit", "The user has canceled the operation.");
    EXPECT_EQ(out.text(),
              "transfer: 12 bytes received  (3 %)\n"
              "box: [Program exit] The user has canceled the operation.\n");
}

}  // namespace
}  // namespace qm::app
