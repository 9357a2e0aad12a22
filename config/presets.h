// Checks of a SaveData image against the camera record's limits, one per
// layout, run before a preset is saved to flash.
#pragma once

#include "config/records.h"
#include "tavcam.h"

namespace tav {

// True when the image's current preset fits the record: a preset number the
// camera accepts, a scan area within the current format's maximum extent,
// feature values within their inquiry words' ranges and a format the camera
// has. The checks run in a fixed order and stop at the first that fails.
bool ValidateParams(const SaveDataLong& image, const CameraRecord& record);
bool ValidateParams(const SaveDataShort& image, const CameraRecord& record);

}  // namespace tav
