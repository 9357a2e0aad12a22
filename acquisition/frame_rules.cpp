// The conversion tables of the three acquisition loops (see frame_rules.h).
#include "acquisition/frame_rules.h"

#include <stddef.h>

#include "acquisition/convert/convert.h"
#include "platform/platform.h"

namespace tav {
namespace {

using C = Conversion;

constexpr FrameRule kCaptureRules[] = {
    {1, 24, 1, C::Bayer, Room::Triple},         {1, 24, 10, C::Uyvy, Room::Triple},
    {1, 24, 255, C::QuaziColour, Room::Triple}, {1, 8, 1, C::MonoCopy8, Room::Image},
    {1, 8, 2, C::FieldMerge8, Room::Image},     {2, 8, 12, C::Shift16, Room::Half},
    {2, 8, 100, C::Log10, Room::Half},          {2, 8, 110, C::Log12, Room::Half},
};

constexpr FrameRule kCaptureExRules[] = {
    {1, 24, 1, C::Bayer, Room::Triple},
    {1, 24, 10, C::Uyvy, Room::Triple},
    {1, 24, 255, C::QuaziColour, Room::Triple},
    {1, 24, kAnyFormat, C::None, Room::Triple},
    {1, 8, kAnyFormat, C::MonoCopy8, Room::Image},
    {2, 8, 12, C::Shift16, Room::Half},
    {2, 8, 100, C::Log10, Room::Half},
    {2, 8, 110, C::Log12, Room::Half},
    {2, 8, 115, C::Log12Interlaced, Room::Half},
};

constexpr FrameRule kReaderRules[] = {
    {1, 24, 1, C::Bayer, Room::Triple},         {1, 24, 10, C::Uyvy, Room::Triple},
    {1, 24, 255, C::QuaziColour, Room::Triple}, {1, 24, kAnyFormat, C::None, Room::Triple},
    {1, 8, 1, C::MonoCopy8, Room::Image},       {1, 8, 2, C::FieldMerge8, Room::Image},
    {2, 24, 200, C::None, Room::Unchecked},     {2, 24, 210, C::None, Room::Unchecked},
    {2, 8, 12, C::Shift16, Room::Half},         {2, 8, 100, C::Log10, Room::Half},
    {2, 8, 110, C::Log12, Room::Half},          {2, 8, 115, C::Log12Interlaced, Room::Half},
};

template <size_t N>
const FrameRule* Find(const FrameRule (&rules)[N], uint32_t b, uint32_t outBits, uint32_t format) {
    // Rules of one (b, outBits) pair list exact codes before kAnyFormat.
    for (const FrameRule& r : rules)
        if (r.bytesPerPixel == b && r.outBits == outBits &&
            (r.format == format || r.format == kAnyFormat))
            return &r;
    return nullptr;
}

}  // namespace

const FrameRule* FindFrameRule(Loop loop, uint32_t bytesPerPixel, uint32_t outBits,
                               uint32_t format) {
    switch (loop) {
        case Loop::Capture:
            return Find(kCaptureRules, bytesPerPixel, outBits, format);
        case Loop::CaptureEx:
            return Find(kCaptureExRules, bytesPerPixel, outBits, format);
        case Loop::Reader:
            return Find(kReaderRules, bytesPerPixel, outBits, format);
    }
    return nullptr;  // every Loop returns above; this only ends the function
}

uint64_t RoomNeeded(Room room, uint64_t imageBytes) {
    switch (room) {
        case Room::Unchecked:
            return 0;
        case Room::Triple:
            return 3 * imageBytes;
        case Room::Image:
            return imageBytes;
        case Room::Half:
            return imageBytes / 2;
    }
    return imageBytes;  // every Room returns above; this only ends the function
}

bool PictureHasRoom(Conversion conversion, uint8_t* picture, uint64_t room, uint32_t sat,
                    const uint8_t* table, int* tableReadable) {
    if (room != 0 && plat::IsBadWritePtr(picture, (UINT_PTR)room)) return false;
    if (!UsesColourTable(conversion, sat)) return true;
    if (*tableReadable < 0) *tableReadable = table && !plat::IsBadReadPtr(table, kColourTableBytes);
    return *tableReadable == 1;
}

void ConvertFrame(Conversion conversion, const FrameJob& job) {
    const uint8_t* src = job.frame + 2 * job.lineBytes;
    uint8_t* dst = job.picture;
    const uint32_t w = job.width, h = job.height;
    switch (conversion) {
        case C::None:
            return;
        case C::Bayer:
            if (job.satCoefficient == 100)
                BayerToBGR24(src, dst, w, h);
            else
                BayerToBGR24Table(src, dst, w, h, job.colourTable);
            return;
        case C::Uyvy:
            UYVYToBGR24(src, dst, w / 2, h);
            return;
        case C::QuaziColour:
            QuaziColourInsert(src, dst, w, h, job.channel);
            return;
        case C::MonoCopy8:
            MonoCopy8(src, dst, w, h);
            return;
        case C::FieldMerge8:
            FieldMerge8(src, dst, w, h);
            return;
        case C::Shift16:
            Mono16To8Shift(src, dst, w, h);
            return;
        case C::Log10:
            Mono10To8Log(src, dst, w, h);
            return;
        case C::Log12:
            Mono12To8Log(src, dst, w, h);
            return;
        case C::Log12Interlaced:
            Mono12To8LogInterlaced(src, dst, w, h);
            return;
    }
}

}  // namespace tav
