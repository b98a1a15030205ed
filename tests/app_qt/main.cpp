// The window tests run in one QApplication on Qt's offscreen platform, which needs no display
// server; the tests that need a real X server start their own (Xvfb) for the processes they run.
//
// "test_app_qt --probe-display MILLISECONDS" instead answers whether a display works, with the
// exit status (0 yes, 1 no), in a process that has no QApplication yet, as the program asks it.
// "test_app_qt --grab-screen FILE X Y WIDTH HEIGHT" saves that part of the screen of $DISPLAY,
// window frames included, as a PNG file (exit status 0 when saved).
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>

#include <chrono>
#include <cstring>

#include "app/unix/window_plugin.h"

namespace {

int GrabScreen(int argc, char** argv) {
    QString const file = QString::fromLocal8Bit(argv[2]);
    int const area[] = {std::stoi(argv[3]), std::stoi(argv[4]), std::stoi(argv[5]),
                        std::stoi(argv[6])};
    QGuiApplication application(argc, argv);
    QPixmap const part =
        QGuiApplication::primaryScreen()->grabWindow(0, area[0], area[1], area[2], area[3]);
    return !part.isNull() && part.save(file, "PNG") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--grab-screen") == 0) {
        return GrabScreen(argc, argv);
    }
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
