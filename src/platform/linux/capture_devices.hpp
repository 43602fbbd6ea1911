#pragma once

#include <cstdint>
#include <string>

namespace deskagent::platform {

// The microphone status from the ALSA capture device nodes in `deviceDir` (pcmC<card>D<dev>c),
// in the seam's raw values: 3 (granted) when this process may open one for reading, 2 (denied)
// when there are some and none may be opened, -1 (unknown) when there are none or it cannot be
// told. Looks only at permissions: a capture device is never opened, so no recording is started
// or disturbed.
std::int64_t captureDeviceAuthorization(const std::string& deviceDir = "/dev/snd");

}  // namespace deskagent::platform
