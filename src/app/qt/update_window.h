// The update window: a fixed-size dialog titled "Checking your version ..." with a title bar and
// a close box only (title_and_close_box.h), the abort button, the progress bar, the framed status
// line and the transfer line, placed in dialog units of its font (the desktop's sans-serif font at
// 8 points).
//
// The abort button, the Escape key and the close box all give the cancel command; none of them
// closes the window by itself. The window is hidden by its owner when the run ends.
#pragma once

#include <QDialog>

#include <functional>

#include "app/qt/dialog_units.h"

class QProgressBar;
class QPushButton;

namespace qm::app::qt {

class ClippedLine;

class UpdateWindow final : public QDialog {
  public:
    UpdateWindow();

    void SetCancelCommand(std::function<void()> command) { cancel_ = std::move(command); }

    // Places the window at the centre of its screen's available area; before it is first shown.
    void CenterOnScreen();

    QPushButton& abortButton() { return *abortButton_; }
    QProgressBar& progressBar() { return *progressBar_; }
    ClippedLine& statusLine() { return *statusLine_; }
    ClippedLine& transferLine() { return *transferLine_; }
    DialogUnits const& units() const { return units_; }

    // Escape.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void GiveCancel();

    DialogUnits units_;
    QPushButton* abortButton_;
    QProgressBar* progressBar_;
    ClippedLine* statusLine_;
    ClippedLine* transferLine_;
    std::function<void()> cancel_;
};

// The font of the window: the desktop's default sans-serif font at 8 points.
QFont WindowFont();

}  // namespace qm::app::qt
