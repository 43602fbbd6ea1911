#pragma once

#include "loop/main_loop.hpp"
#include "platform/backend_description.hpp"

namespace deskagent::platform::kde {

// Whether KWin would let the agent type (its EIS) and use the clipboard (data-control) in this
// session, and whether it tells the focused window's application.
BackendDescription describeKdeBackend(MainLoop& loop);

}  // namespace deskagent::platform::kde
