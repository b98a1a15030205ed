#include "app/qt/clipped_line.h"

#include <QEvent>
#include <QFontMetrics>

namespace qm::app::qt {

ClippedLine::ClippedLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setFocusPolicy(Qt::NoFocus);
    setTextInteractionFlags(Qt::NoTextInteraction);
    Align();
}

void ClippedLine::SetLine(QString const& text) {
    setText(text);
    Align();
}

bool ClippedLine::Fits() const {
    return fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
}

void ClippedLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Align();
}

void ClippedLine::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        Align();
    }
}

void ClippedLine::Align() {
    setAlignment((Fits() ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
}

}  // namespace qm::app::qt
