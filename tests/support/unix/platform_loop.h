// The platform's event loop as the tests turn it: the poll loop, with a time source of the
// test's own and RunOnce. (Included as "platform_loop.h"; the build puts this folder on the
// include path.)
#pragma once

#include "net/unix/poll_event_loop.h"

namespace qm::test {

using PlatformLoop = net::PollEventLoop;

}  // namespace qm::test
