#include "app/qt/program_icon.h"

#include <QString>

namespace qm::app::qt {

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/quillmesh-updater-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/quillmesh-updater-32.png"), QSize(32, 32));
    return icon;
}

}  // namespace qm::app::qt
