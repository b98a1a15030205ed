#include "app/qt/display_text.h"

#include <QStringDecoder>

namespace qm::app::qt {

QString DisplayText(std::string_view bytes) {
    QByteArrayView const view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) {
        return text;
    }
    return QString::fromLatin1(view);
}

}  // namespace qm::app::qt
