// Cameras over loopback TCP, for the Windows build under test.
//
// On Windows the library reaches cameras through the camera family's kernel
// driver, and that is all a Windows user ever gets. Under Wine, where there
// is no such driver, the build's tests reach simulated cameras instead, and
// only when TAVCAM_DEVICE_DIR is set (and not empty): then that directory
// (as Windows sees it, e.g. Z:\tmp\cams) takes the place of the driver's
// device interfaces. Each camera there is a file NAME.tcp holding one line,
// "127.0.0.1:PORT"; the enumeration hands out the files' full paths sorted
// by name in byte order; opening such a path connects to that loopback port,
// and every request is a message of the camera socket protocol
// (platform/camera_protocol.h).
//
// What is ours to decide, and why (as on POSIX, platform/posix/devices):
// - Only 127.0.0.1 is ever connected to: a file naming another address opens
//   nothing, so a stray file can't send the library's requests off the
//   machine.
// - A connection attempt waits at most kTcpConnectWaitMs.
// - A request other than the stream read waits at most kTcpReplyWaitMs for
//   each part of its answer; past that, or when the connection breaks, the
//   request fails with ERROR_DEVICE_NOT_CONNECTED and so does every later one
//   on the handle (handles are never reconnected). The stream read waits as
//   the driver's does, until its transfer comes, the stream stops or the
//   connection breaks.
// - Requests on one handle from several threads go one after the other.
// - A closed handle's connection is shut down at once, and a stream read
//   still waiting on it in another thread ends within a tenth of a second
//   (its wait looks at the handle between slices) with
//   ERROR_DEVICE_NOT_CONNECTED.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat::tcp {

constexpr DWORD kTcpConnectWaitMs = 2000;
constexpr DWORD kTcpReplyWaitMs = 10000;

// The device directory when the transport is on (TAVCAM_DEVICE_DIR set and
// not empty); empty when the driver is used.
std::string DeviceDirectory();

// True for a device path of the transport (the transport is on and the path
// ends in ".tcp").
bool IsCameraFile(const char* path);

// The port of a camera file holding "127.0.0.1:PORT"; 0 when the file can't
// be read or holds anything else.
unsigned short CameraPort(const char* path);

// The camera files of the directory, full paths sorted by file name in byte
// order; paths longer than 255 bytes are left out.
std::vector<std::string> ListCameraFiles(const std::string& dir);

}  // namespace plat::tcp
