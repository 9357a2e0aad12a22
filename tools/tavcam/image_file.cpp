// BMP and PNG files of delivered pictures (see image_file.h).
#include "tools/tavcam/image_file.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#if defined(TAVCAM_HAVE_PNG)
#include <png.h>
#endif

namespace {

bool EndsWith(const std::string& s, const char* suffix) {
    const size_t n = strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

void Put16(std::string& out, uint32_t v) {
    out.push_back((char)(uint8_t)v);
    out.push_back((char)(uint8_t)(v >> 8));
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint32_t LineBytes(const Picture& p) {
    return p.width * (p.bits / 8);
}

bool Drawable(const Picture& p) {
    return p.bits == 8 || p.bits == 24;
}

#if defined(TAVCAM_HAVE_PNG)
void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append((const char*)data, length);
}
void FlushNothing(png_structp) {}
#endif

}  // namespace

bool EncodeBmp(const Picture& p, std::string* out) {
    if (!Drawable(p)) return false;
    const uint32_t line = LineBytes(p);
    const uint32_t padded = (line + 3) & ~3u;  // BMP lines start at 4-byte boundaries
    const uint32_t palette = p.bits == 8 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + palette;
    out->clear();
    out->reserve(offset + (size_t)padded * p.height);
    out->push_back('B');
    out->push_back('M');
    Put32(*out, offset + padded * p.height);
    Put32(*out, 0);
    Put32(*out, offset);
    Put32(*out, 40);  // BITMAPINFOHEADER
    Put32(*out, p.width);
    Put32(*out, p.height);  // positive: bottom-up, as the picture is
    Put16(*out, 1);
    Put16(*out, p.bits);
    Put32(*out, 0);  // no compression
    Put32(*out, padded * p.height);
    Put32(*out, 2835);  // 72 dpi
    Put32(*out, 2835);
    Put32(*out, p.bits == 8 ? 256 : 0);
    Put32(*out, 0);
    for (uint32_t i = 0; palette && i < 256; ++i) Put32(*out, i * 0x010101u);
    for (uint32_t y = 0; y < p.height; ++y) {
        out->append((const char*)p.data + (size_t)y * line, line);
        out->append(padded - line, '\0');
    }
    return true;
}

bool EncodePng(const Picture& p, std::string* out) {
#if defined(TAVCAM_HAVE_PNG)
    if (!Drawable(p)) return false;
    out->clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, p.width, p.height, 8,
                 p.bits == 8 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (p.bits == 24) png_set_bgr(png);  // the picture holds blue, green, red
    const uint32_t line = LineBytes(p);
    for (uint32_t y = 0; y < p.height; ++y)  // PNG lines go top-down
        png_write_row(png, (png_const_bytep)(p.data + (size_t)(p.height - 1 - y) * line));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
#else
    (void)p;
    (void)out;
    return false;
#endif
}

bool WritePicture(const std::string& path, const Picture& picture, std::string* error) {
    if (!Drawable(picture)) {
        *error = "no image file for a " + std::to_string(picture.bits) + "-bit picture";
        return false;
    }
    std::string bytes;
    if (EndsWith(path, ".bmp")) {
        EncodeBmp(picture, &bytes);
    } else if (EndsWith(path, ".png")) {
#if defined(TAVCAM_HAVE_PNG)
        if (!EncodePng(picture, &bytes)) {
            *error = "cannot write " + path;
            return false;
        }
#else
        *error = "this tavcam was built without PNG support; use .bmp";
        return false;
#endif
    } else {
        *error = "unknown image file type: " + path + " (use .bmp or .png)";
        return false;
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) *error = "cannot write " + path;
    return ok;
}

std::string NumberedPath(const std::string& path, uint32_t index, uint32_t count) {
    if (count <= 1) return path;
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of("/\\");
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    return stem + "-" + std::to_string(index) + extension;
}
