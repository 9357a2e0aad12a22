// Device files of the POSIX stand-in: CreateFileA on a camera's device path
// connects a Unix stream socket to the camera server, DeviceIoControl sends one
// request message of the camera socket protocol and reads its answer.
//
// What is ours to decide, and why:
// - A request other than IOCTL_CAM_READ_STREAM waits at most
//   DeviceReplyTimeout() milliseconds for the server to make progress (take
//   request bytes or send answer bytes). A server that exceeds it is treated
//   as gone: the connection is shut down and the request fails with
//   ERROR_DEVICE_NOT_CONNECTED, so a hung server can't hang the library.
// - IOCTL_CAM_READ_STREAM waits for its transfer without a time bound, as the
//   driver does (a camera in trigger mode may wait long for its trigger); it
//   ends when the transfer comes, the stream is stopped from another handle,
//   or the connection breaks (the server died or the camera left).
// - A server that breaks the protocol (an answer longer than the output
//   capacity, a result other than 0 or 1) is treated as a broken connection.
// - A broken connection stays broken: every later request on the handle fails
//   with ERROR_DEVICE_NOT_CONNECTED at once. Handles are never reconnected.
// - Requests on one handle from several threads are served one after the
//   other (a per-handle lock around the whole request and answer), so their
//   bytes never interleave on the connection.
#pragma once

#include <stdint.h>

namespace plat::posix {

constexpr uint32_t kDefaultDeviceReplyTimeoutMs = 10000;

// Tests shorten the bound to check the hung-server path quickly.
void SetDeviceReplyTimeout(uint32_t ms);
uint32_t DeviceReplyTimeout();

}  // namespace plat::posix
