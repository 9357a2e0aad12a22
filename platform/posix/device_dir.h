// Where the cameras are on POSIX: the device directory of the camera socket
// protocol ($TAVCAM_DEVICE_DIR when set and not empty, else
// /tmp/tavcam-UID/devices). Each camera is a Unix stream socket "*.sock" in it.
#pragma once

#include <string>

namespace plat::posix {

std::string DeviceDirectory();

// Runtime directory of this user's named objects of the stand-in: the value
// of TAVCAM_RUNTIME_DIR when set and not empty (tests give each run a private
// namespace of named objects this way), else /tmp/tavcam-UID. Created on
// first use with mode 0700. Every named object of the stand-in (mappings,
// events, mutexes, the window registry, message sockets) is named after it.
std::string RuntimeDirectory();

// A short tag naming the runtime directory, for objects whose names can't be
// paths (POSIX shared memory names): the user id, plus a hash of
// TAVCAM_RUNTIME_DIR when that is set. "1000" or "1000-5f3a9c21".
std::string ObjectNamespace();

}  // namespace plat::posix
