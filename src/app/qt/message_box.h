// A message box as the run shows its endings: the platform's standard box with a caption, a
// plain text and an OK button, no icon, modal over its parent, with a title bar and a close box
// only.
//
// The standard box takes its width from its text, so a caption longer than the text would be
// cut in the title bar. This one is at least as wide as its caption needs there: the caption's
// width in the application font in bold, plus three title bar heights for the icon and the
// buttons; never wider than the screen's available area. The text stays as it is.
#pragma once

#include <QMessageBox>
#include <QString>

namespace qm::app::qt {

class MessageBox final : public QMessageBox {
  public:
    MessageBox(QString const& caption, QString const& text, QWidget* parent);

    // The width the title bar needs for the caption, capped by the available screen width.
    int CaptionWidth() const;

  protected:
    bool event(QEvent* event) override;

  private:
    void WidenForCaption(bool keepCentre);
    int OnScreen(int left) const;  // a left frame edge that keeps the box on the screen
};

}  // namespace qm::app::qt
