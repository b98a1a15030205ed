// The program's icon (a yellow folder on a post, attached to a network line), in 16 and 32
// pixels, compiled into the program from data/icons/.
#pragma once

#include <QIcon>

namespace qm::app::qt {

QIcon ProgramIcon();

}  // namespace qm::app::qt
