#include "platform/wayland/kde/kde_check.hpp"

#include "platform/wayland/kde/kde_platform.hpp"

namespace deskagent::platform::kde {

BackendDescription describeKdeBackend(MainLoop& loop) {
  BackendDescription d{"KDE Plasma (KWin's EIS and data-control)", false, false, {}};
  std::string whyNot;
  auto platform = connectKdePlatform(loop, &whyNot);
  if (!platform) {
    d.detail = whyNot;
    return d;
  }
  d.present = true;
  d.usable = platform->isProcessTrusted(false);
  d.detail = d.usable ? "KWin gives a keyboard through its EIS and the clipboard through "
                        "data-control; the focused window's app id comes from a KWin script"
                      : "KWin's EIS keyboard is not resumed";
  return d;
}

}  // namespace deskagent::platform::kde
