// The page tavcam view serves: plain HTML, CSS and JavaScript in one text,
// with nothing fetched from elsewhere and no build step.
#pragma once

namespace view {

extern const char kViewPage[];

}  // namespace view
