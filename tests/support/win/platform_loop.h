// The platform's event loop as the tests turn it: the window message loop, with a time source of
// the test's own and RunOnce. (Included as "platform_loop.h"; the build puts this folder on the
// include path.)
#pragma once

#include "net/win/message_loop.h"

namespace qm::test {

using PlatformLoop = net::MessageLoop;

}  // namespace qm::test
