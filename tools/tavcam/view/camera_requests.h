// What the page asks of a camera, carried out on the library thread (see
// camera_hub.h): its description with the controls the page shows, a feature
// set within the camera's limits, a format, a scan area, a preset saved or
// loaded. Each checks the request against the camera's record first and
// answers a refusal the page can show: 404 no such camera, 409 busy, 422
// outside the camera's limits, 502 the camera did not take the request.
#pragma once

#include <stdint.h>

#include <string>

#include "tools/tavcam/view/camera_hub.h"

namespace view {

// The camera's record, format, scan area, preset, and every present feature
// as a slider or a switch with its limits and value.
Reply DescribeCamera(Hub& hub, int index, const std::string& name);

// Sets a feature by its name (as `tavcam set` knows it) to value.
Reply SetFeature(Hub& hub, int index, const std::string& name, const std::string& feature,
                 uint32_t value);

Reply SetFormat(Hub& hub, int index, const std::string& name, uint32_t format);

Reply SetArea(Hub& hub, int index, const std::string& name, const uint32_t (&area)[4]);

// Saves the settings in force as preset `preset`, or loads it.
Reply UsePreset(Hub& hub, int index, const std::string& name, bool save, uint32_t preset);

}  // namespace view
