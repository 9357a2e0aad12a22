// Where the cameras are on POSIX: the device directory of the camera socket
// protocol ($TAVCAM_DEVICE_DIR when set and not empty, else
// /tmp/tavcam-UID/devices). Each camera is a Unix stream socket "*.sock" in it.
#pragma once

#include <string>

namespace plat::posix {

std::string DeviceDirectory();

// Runtime directory of this user's named objects of the stand-in
// (/tmp/tavcam-UID), created on first use with mode 0700.
std::string RuntimeDirectory();

}  // namespace plat::posix
