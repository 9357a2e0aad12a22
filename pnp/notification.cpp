// The client side of plug-and-play: this process's notification thread.
// Registration of client functions comes with plug-and-play; until then no
// process has a notification thread and there is nothing to stop.
#include "pnp/pnp.h"

namespace tav {

void StopNotificationThread(bool) {}

}  // namespace tav
