// The width a title bar needs for a caption, by the rule the message boxes follow: the caption in
// the application font in bold, and three title bar heights for the icon and the buttons.
#pragma once

#include <QApplication>
#include <QFontMetrics>
#include <QString>
#include <QStyle>

namespace qm::app::qt::test {

inline int CaptionWidth(QString const& caption) {
    QFont bold = QApplication::font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(caption) +
           3 * QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
}

}  // namespace qm::app::qt::test
