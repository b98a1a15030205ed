// The entry point of the window module: the program asks it to try the display (in a child
// process) and then for the window front end.
#include <QApplication>
#include <QGuiApplication>

#include <array>
#include <memory>

#include "app/qt/qt_front_end.h"
#include "app/unix/window_plugin.h"

namespace qm::app::qt {
namespace {

constexpr char kProgramName[] = "quillmesh-updater";

// The program's QApplication, made before and destroyed after the window front end.
class Application {
  public:
    Application() : application_(argc_, argv_.data()) {
        QApplication::setApplicationName(QString::fromLatin1(kProgramName));
        QApplication::setApplicationVersion(QStringLiteral(QM_VERSION));
        QApplication::setDesktopFileName(QString::fromLatin1(kProgramName));
        // The run ends the program, not the last closed window (a message box may be the only
        // window of a run that ends before the update window is shown).
        QApplication::setQuitOnLastWindowClosed(false);
    }

  private:
    std::array<char, sizeof kProgramName> name_ = MakeName();
    std::array<char*, 2> argv_{name_.data(), nullptr};
    int argc_ = 1;
    QApplication application_;

    static std::array<char, sizeof kProgramName> MakeName() {
        std::array<char, sizeof kProgramName> name{};
        std::copy(std::begin(kProgramName), std::end(kProgramName), name.begin());
        return name;
    }
};

class ApplicationFrontEnd final : public FrontEnd {
  public:
    explicit ApplicationFrontEnd(int wakeFd) : frontEnd_(wakeFd) {}
    net::EventLoop& loop() override { return frontEnd_.loop(); }
    UpdateView& view() override { return frontEnd_.view(); }

  private:
    Application application_;
    QtFrontEnd frontEnd_;
};

// A platform plugin that cannot connect ends the process here; the program asks in a child.
void ConnectToDisplay() {
    static char name[] = "quillmesh-updater";
    static char* argv[] = {name, nullptr};
    static int argc = 1;
    QGuiApplication const application(argc, argv);
}

FrontEnd* MakeFrontEnd(int wakeFd) {
    return new ApplicationFrontEnd(wakeFd);
}

constexpr WindowPluginApi kApi{ConnectToDisplay, MakeFrontEnd};

}  // namespace
}  // namespace qm::app::qt

extern "C" [[gnu::visibility("default")]] qm::app::WindowPluginApi const*
quillmesh_updater_window_v1() {
    return &qm::app::qt::kApi;
}
