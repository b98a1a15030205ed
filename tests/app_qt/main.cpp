// The window tests run in one QApplication on Qt's offscreen platform, which needs no display
// server; the tests that need a real X server start their own (Xvfb) for the processes they run.
//
// "test_app_qt --probe-display MILLISECONDS" instead answers whether a display works, with the
// exit status (0 yes, 1 no), in a process that has no QApplication yet, as the program asks it.
#include <gtest/gtest.h>

#include <QApplication>

#include <chrono>
#include <cstring>
#include <string>

#include "app/window_plugin.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--probe-display") == 0) {
        std::chrono::milliseconds const timeout{std::stoi(argv[2])};
        return qm::app::ProbeWindow(QM_WINDOW_PLUGIN_PATH, timeout).result ==
                       qm::app::WindowProbe::Result::Works
                   ? 0
                   : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
