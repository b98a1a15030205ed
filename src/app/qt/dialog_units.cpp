#include "app/qt/dialog_units.h"

#include <QFontMetricsF>
#include <QString>

#include <cmath>

namespace qm::app::qt {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kAlphabetLength = 52.0;

int Scaled(int units, double base, double divisor) {
    return static_cast<int>(std::lround(units * base / divisor));
}

}  // namespace

DialogUnits::DialogUnits(QFont const& font) {
    QFontMetricsF const metrics(font);
    averageCharWidth_ = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength;
    charHeight_ = metrics.height();
}

int DialogUnits::X(int units) const {
    return Scaled(units, averageCharWidth_, 4.0);
}

int DialogUnits::Y(int units) const {
    return Scaled(units, charHeight_, 8.0);
}

QRect DialogUnits::Rect(DialogRect const& place) const {
    int const left = X(place.x);
    int const top = Y(place.y);
    return QRect(left, top, X(place.x + place.width) - left, Y(place.y + place.height) - top);
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

}  // namespace qm::app::qt
