// One line of plain text in a fixed place: centred when it fits; a text too wide for the line is
// shown from its start and cut at the right edge. It is never wrapped and never spills out of
// the line. Text is never taken as markup.
#pragma once

#include <QLabel>
#include <QString>

namespace qm::app::qt {

class ClippedLine final : public QLabel {
  public:
    explicit ClippedLine(QWidget* parent);

    void SetLine(QString const& text);
    bool Fits() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Align();
};

}  // namespace qm::app::qt
