// Delivered pictures as JPEG, through TurboJPEG: 8-bit pictures in grey,
// 24-bit pictures (blue, green, red) in colour. The pictures are bottom-up;
// the JPEG is the right way up.
#pragma once

#include <string>

#include "tools/tavcam/image_file.h"

namespace view {

// One encoder per thread (a TurboJPEG handle is not to be shared).
struct JpegEncoder {
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;
    void* handle = nullptr;
};

// Quality of the live picture: a fair picture at a tenth of the raw size.
constexpr int kJpegQuality = 80;

// The picture as a JPEG file in *out; false when it has no 8- or 24-bit form
// or the encoder fails.
bool EncodeJpeg(JpegEncoder& encoder, const Picture& picture, std::string* out);

}  // namespace view
