// BMP and PNG files of delivered pictures (see image_file.h).
#include "tools/tavcam/image_file.h"

#include <stdio.h>
#include <string.h>

#include <vector>

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

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint32_t LineBytes(const Picture& p) {
    return p.width * (p.bits / 8);
}

bool WriteBmp(const std::string& path, const Picture& p, std::string* error) {
    const uint32_t line = LineBytes(p);
    const uint32_t padded = (line + 3) & ~3u;  // BMP lines start at 4-byte boundaries
    const uint32_t palette = p.bits == 8 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + palette;
    std::vector<uint8_t> head;
    head.push_back('B');
    head.push_back('M');
    Put32(head, offset + padded * p.height);
    Put32(head, 0);
    Put32(head, offset);
    Put32(head, 40);  // BITMAPINFOHEADER
    Put32(head, p.width);
    Put32(head, p.height);  // positive: bottom-up, as the picture is
    Put16(head, 1);
    Put16(head, p.bits);
    Put32(head, 0);  // no compression
    Put32(head, padded * p.height);
    Put32(head, 2835);  // 72 dpi
    Put32(head, 2835);
    Put32(head, p.bits == 8 ? 256 : 0);
    Put32(head, 0);
    for (uint32_t i = 0; palette && i < 256; ++i) Put32(head, i * 0x010101u);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    bool ok = fwrite(head.data(), 1, head.size(), f) == head.size();
    const uint8_t zeros[3] = {0, 0, 0};
    for (uint32_t y = 0; ok && y < p.height; ++y) {
        ok = fwrite(p.data + (size_t)y * line, 1, line, f) == line &&
             fwrite(zeros, 1, padded - line, f) == padded - line;
    }
    ok = fclose(f) == 0 && ok;
    if (!ok) *error = "cannot write " + path;
    return ok;
}

#if defined(TAVCAM_HAVE_PNG)
bool WritePng(const std::string& path, const Picture& p, std::string* error) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        *error = "cannot write " + path;
        return false;
    }
    png_init_io(png, f);
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
    if (fclose(f) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}
#endif

}  // namespace

bool WritePicture(const std::string& path, const Picture& picture, std::string* error) {
    if (picture.bits != 8 && picture.bits != 24) {
        *error = "no image file for a " + std::to_string(picture.bits) + "-bit picture";
        return false;
    }
    if (EndsWith(path, ".bmp")) return WriteBmp(path, picture, error);
#if defined(TAVCAM_HAVE_PNG)
    if (EndsWith(path, ".png")) return WritePng(path, picture, error);
#else
    if (EndsWith(path, ".png")) {
        *error = "this tavcam was built without PNG support; use .bmp";
        return false;
    }
#endif
    *error = "unknown image file type: " + path + " (use .bmp or .png)";
    return false;
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
