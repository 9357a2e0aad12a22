/* capture_bmp: a Windows program that lists the cameras, initialises one
 * into its saved preset and writes one picture of it to a BMP file.
 *
 *   capture_bmp [NAME [FILE]]     default: the first camera, picture.bmp
 *
 * Build it against the DLL's import library, e.g. with mingw-w64:
 *   x86_64-w64-mingw32-gcc capture_bmp.c -I include -L build-win/lib -ltavcam -o capture_bmp.exe
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavcam.h"

/* The library delivers pictures bottom-up with no bytes between lines; a BMP
 * file keeps bottom-up lines too, each padded to four bytes. 8-bit pictures
 * get a grey palette. */
static int WriteBmp(const char* path, const unsigned char* picture, LONG width, LONG height,
                    WORD bits) {
    const DWORD line = (DWORD)width * (bits / 8);
    const DWORD padded = (line + 3) & ~3u;
    const DWORD colours = bits == 8 ? 256 : 0;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    RGBQUAD grey[256];
    static const unsigned char zeros[3] = {0, 0, 0};
    FILE* f;
    LONG y;
    DWORD i;

    memset(&info, 0, sizeof info);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height; /* positive: bottom-up */
    info.biPlanes = 1;
    info.biBitCount = bits;
    info.biCompression = BI_RGB;
    info.biSizeImage = padded * (DWORD)height;
    info.biClrUsed = colours;
    memset(&file, 0, sizeof file);
    file.bfType = 0x4D42; /* "BM" */
    file.bfOffBits = sizeof file + sizeof info + colours * sizeof(RGBQUAD);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    for (i = 0; i < 256; ++i) {
        grey[i].rgbBlue = grey[i].rgbGreen = grey[i].rgbRed = (BYTE)i;
        grey[i].rgbReserved = 0;
    }

    f = fopen(path, "wb");
    if (!f) return 0;
    fwrite(&file, sizeof file, 1, f);
    fwrite(&info, sizeof info, 1, f);
    fwrite(grey, sizeof(RGBQUAD), colours, f);
    for (y = 0; y < height; ++y) {
        fwrite(picture + (size_t)y * line, 1, line, f);
        fwrite(zeros, 1, padded - line, f);
    }
    return fclose(f) == 0;
}

int main(int argc, char** argv) {
    CameraList list;
    CameraRecord record;
    const FormatEntry* format;
    const char* name = argc > 1 ? argv[1] : NULL;
    const char* path = argc > 2 ? argv[2] : "picture.bmp";
    uint32_t saturation = 100;    /* 100: the plain colour reconstruction */
    unsigned char colourTable[3]; /* read only for other coefficients, but never null */
    void* buffers[1];
    CaptureParam capture;
    unsigned char* picture;
    LONG width, height;
    WORD bits;
    int k, ok;

    /* 1. The cameras present, by name ("LineScan-0": the digit after the
     *    first "-" is the device index). */
    memset(&list, 0, sizeof list);
    USBGetSuppDeviceList(&list);
    printf("%u camera(s)\n", (unsigned)list.nCount);
    for (k = 0; k < TAVCAM_MAX_CAMERAS; ++k) {
        if (!list.szNames[k][0]) continue;
        printf("  %s\n", list.szNames[k]);
        if (!name) name = list.szNames[k];
    }
    if (!name) {
        fprintf(stderr, "no camera\n");
        return 1;
    }

    /* 2. Initialise it into its saved preset. */
    if (USBInitDevice(name) != TAVCAM_INIT_OK) {
        fprintf(stderr, "%s: initialisation failed\n", name);
        return 1;
    }

    /* 3. The picture the current format delivers: its size and depth. A
     *    YUV 4:2:2 format (code 10) gives half the line's pixels. */
    if (!USBReadDeviceParams(name, &record)) {
        fprintf(stderr, "%s: no camera record\n", name);
        return 1;
    }
    format = &record.Formats[record.CurrentFormat & 15];
    width = (LONG)(format->FormatCode == 10 ? format->Width / 2 : format->Width);
    height = (LONG)format->Height;
    bits = format->OutBits == 24 ? 24 : 8;
    picture = (unsigned char*)calloc((size_t)format->Width * format->Height, bits / 8);
    if (!picture) return 1;

    /* 4. One picture, taken on this thread. */
    memset(&capture, 0, sizeof capture);
    buffers[0] = picture;
    capture.nFrames = 1;
    capture.pSatCoefficient = &saturation;
    capture.pColourTable = colourTable;
    capture.ppBuffers = buffers;
    if (USBCaptureFrame(name, &capture) != TAVCAM_OK) {
        fprintf(stderr, "%s: capture failed\n", name);
        free(picture);
        return 1;
    }

    ok = WriteBmp(path, picture, width, height, bits);
    free(picture);
    if (!ok) {
        fprintf(stderr, "%s: can't write\n", path);
        return 1;
    }
    printf("wrote %s (%ld x %ld, %u-bit) from %s\n", path, (long)width, (long)height,
           (unsigned)bits, name);
    return 0;
}
