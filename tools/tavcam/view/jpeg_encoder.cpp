// JPEG encoding of delivered pictures (see jpeg_encoder.h).
#include "tools/tavcam/view/jpeg_encoder.h"

#include <turbojpeg.h>

namespace view {

JpegEncoder::JpegEncoder() : handle(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    if (handle) tjDestroy(handle);
}

bool EncodeJpeg(JpegEncoder& encoder, const Picture& p, std::string* out) {
    if (!encoder.handle || (p.bits != 8 && p.bits != 24) || !p.width || !p.height) return false;
    const bool grey = p.bits == 8;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    // TJFLAG_BOTTOMUP: the picture's last line in memory is the image's top line.
    const int rc = tjCompress2(
        encoder.handle, p.data, (int)p.width, 0, (int)p.height, grey ? TJPF_GRAY : TJPF_BGR, &jpeg,
        &size, grey ? TJSAMP_GRAY : TJSAMP_420, kJpegQuality, TJFLAG_BOTTOMUP | TJFLAG_FASTDCT);
    if (rc == 0) out->assign((const char*)jpeg, size);
    tjFree(jpeg);
    return rc == 0;
}

}  // namespace view
