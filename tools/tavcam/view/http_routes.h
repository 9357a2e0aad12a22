// The view's HTTP interface on cpp-httplib's server: the page, the JSON
// calls it makes, the live picture as a multipart JPEG stream and the
// picture download. Every refusal is an HTTP error with {"error": message}.
#pragma once

#include <string>

#include "tools/tavcam/view/camera_hub.h"

namespace httplib {
class Server;
}

namespace view {

// Threads of the server: one per live viewer at most, and room beside them
// for the page's other requests.
constexpr int kServerThreads = 2 * kMaxViewers + 16;

// Requests carry their parameters in the query or a form; a body beyond this
// is refused (413).
constexpr size_t kMaxRequestBody = 64 * 1024;

void AddRoutes(httplib::Server& server, Hub& hub, const std::string& initialCamera);

}  // namespace view
