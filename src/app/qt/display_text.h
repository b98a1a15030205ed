// Text from the run (ASCII, with names from the server) as a QString: UTF-8 when it is valid
// UTF-8, else byte for byte as Latin-1, so that no byte is lost or shown as a replacement mark.
#pragma once

#include <QString>

#include <string_view>

namespace qm::app::qt {

QString DisplayText(std::string_view bytes);

}  // namespace qm::app::qt
