/*
 * tavcam.h - the tavcam camera library's calling interface.
 *
 * Every export is a plain C function with the Windows API calling convention
 * (WINAPI, __stdcall on 32-bit Windows; nothing on other targets) returning a
 * 32-bit integer whose meaning is given with each function. Cameras are named
 * by the camera names that USBGetSuppDeviceList hands out ("LineScan-0"); the
 * digit after the first '-' is the device index 0..7.
 *
 * A library that refuses to attach (a process beyond the monitor and three
 * clients) stays loaded but inert: every export then returns 0 and writes
 * nothing (on Windows the load itself fails). Where this header says "our
 * refusal" or "our check", the library refuses an input that would otherwise
 * make it read or write outside its tables or the caller's memory.
 *
 * Caller blocks are flat records of 32-bit fields. The offsets written next to
 * the fields are those of the 32-bit Windows DLL (pointers and handles 4
 * bytes) and are checked there by static_assert. On 64-bit targets pointers
 * and handles are 8 bytes and the blocks take their natural C layout: every
 * field keeps its order, pointers are aligned to 8 bytes, and the sizes are
 * given next to each block ("64-bit: ...").
 */
#ifndef TAVCAM_H
#define TAVCAM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include "tavcam_posix.h" /* HWND, HANDLE, WINAPI and the message/event subset */
#endif

#if defined(_WIN32)
#if defined(TAVCAM_BUILDING)
#define TAVCAM_API __declspec(dllexport)
#else
#define TAVCAM_API __declspec(dllimport)
#endif
#else
#define TAVCAM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Limits ---------------------------------------------------------- */

#define TAVCAM_MAX_CAMERAS 8         /* device indexes 0..7 */
#define TAVCAM_NAME_BYTES 255        /* one camera-name entry of the device list */
#define TAVCAM_RECORD_BYTES 2016     /* flash page 0: the camera record */
#define TAVCAM_CAMERA_ID_BYTES 128   /* the identification block */
#define TAVCAM_FLASH_MAX_BYTES 16834 /* largest flash transfer of one call */
#define TAVCAM_MAX_DIRECT_BUFFERS 32

/* ---- Result codes ---------------------------------------------------- */

#define TAVCAM_FAILED 0
#define TAVCAM_OK 1
#define TAVCAM_BAD_NAME 2    /* USBSetScanArea, the live-video starts, USBGetUrgentInfo */
#define TAVCAM_BUSY 3        /* the camera reported a nonzero busy status */
#define TAVCAM_INIT_OK 0x800 /* USBInitDevice succeeded */

/* USBCaptureFrameEx: 0 on success, otherwise the step that failed. */
#define CAPEX_OK 0
#define CAPEX_BAD_NAME 1
#define CAPEX_RUNNING 3
#define CAPEX_WINDOW_FAILED 4
#define CAPEX_NO_COLOUR_TABLE 5
#define CAPEX_OPEN_FAILED 6
#define CAPEX_NO_BUFFER 7
#define CAPEX_START_FAILED 8
#define CAPEX_READ_FAILED 9
#define CAPEX_BAD_REQUEST 10 /* the request is refused before the camera is claimed */

/* ---- Window messages -------------------------------------------------- */

#define WM_CAMERA_CHANGE 1325     /* to client windows: a camera came or went */
#define WM_LIVE_FRAME 1327        /* to the live-video window: a frame is in pImage */
#define WM_LIVE_ERROR 1337        /* to the live-video window; lParam says what */
#define WM_REGISTER_CALLBACK 1526 /* to the monitor window */
#define WM_REGISTER_CLIENT 1528   /* to the monitor window */
#define WM_DEREGISTER_CLIENT 1529 /* to the monitor window */

#define LIVE_ERR_NO_ROOM 4  /* WM_LIVE_ERROR lParam: pImage not writable */
#define LIVE_ERR_SIZE 5     /* WM_LIVE_ERROR lParam: transfer of wrong size */
#define LIVE_CB_FRAME 100   /* callback code: a frame was delivered */
#define LIVE_CB_NO_ROOM 101 /* callback code: pImage not writable */

#define LIVE_MODE_WINDOW 0
#define LIVE_MODE_EVENT 1
#define LIVE_MODE_CALLBACK 2

#define PNP_CODE_DEVICE_CHANGE 3 /* the code a plug-and-play function receives */

/* ---- Feature identifiers (most are the camera register address) ------- */

#define FEATURE_BRIGHTNESS 0x800
#define FEATURE_AUTO_EXPOSURE 0x804
#define FEATURE_SHARPNESS 0x808
#define FEATURE_RED 0x80D
#define FEATURE_GREEN 0x80E
#define FEATURE_BLUE 0x80F
#define FEATURE_FRAME_EXPOSURE 0x810
#define FEATURE_SAT_COEFFICIENT 0x814
#define FEATURE_GAMMA 0x818
#define FEATURE_SHUTTER 0x81C
#define FEATURE_GAIN 0x820
#define FEATURE_IRIS 0x824
#define FEATURE_TRIGGER_MODE 0x830
#define FEATURE_REG_884 0x884
#define FEATURE_REG_888 0x888
#define FEATURE_INFO_1C14 0x1C14
#define FEATURE_OUTPUT_SIGNAL_0 0x1E00
#define FEATURE_REG_1E50 0x1E50
#define FEATURE_REG_1E54 0x1E54
#define FEATURE_BITS 0x3840

/* ---- Flash records handed to the application -------------------------- */

/* One format of the camera (88 bytes on every target). */
typedef struct FormatEntry {
    uint8_t reserved[52]; /*  0: passed through unchanged */
    uint32_t Height;      /* 52: lines */
    uint32_t Width;       /* 56: pixels per line */
    uint32_t RawBits;     /* 60: bits per transferred pixel, 8 or 16 */
    uint32_t OutBits;     /* 64: 8 monochrome, 24 blue-green-red */
    uint32_t FormatCode;  /* 68: pixel layout, selects the conversion */
    uint32_t PartialScan; /* 72: nonzero: the scan area may be chosen */
    uint32_t MaxSize;     /* 76: bits 31..16 max left+width, 15..0 max top+height */
    uint32_t UnitSize;    /* 80: bits 31..16 horizontal unit, 15..0 vertical unit */
    uint32_t Origin;      /* 84: bits 31..16 left, 15..0 top of the last scan area */
} FormatEntry;

/* The camera record of flash page 0 (2016 bytes on every target, little-endian). */
typedef struct CameraRecord {
    uint32_t FormatCount;    /*    0 */
    uint32_t CurrentFormat;  /*    4 */
    FormatEntry Formats[16]; /*    8 */
    uint32_t CurrentPreset;  /* 1416: in USBReadDeviceParams' copy, the preset in use */
    uint32_t CameraModel;    /* 1420 */
    char CameraName[255];    /* 1424 */
    uint8_t reserved1[257];  /* 1679 */
    uint32_t MaxPreset;      /* 1936: bits 3..0 */
    uint8_t reserved2[8];    /* 1940 */
    uint32_t FeatureInq[17]; /* 1948: bit 31 present, 23..12 min, 11..0 max */
} CameraRecord;

/* The list USBGetSuppDeviceList fills: a count and eight packed 255-byte names. */
typedef struct CameraList {
    uint32_t nCount;                                     /*   0 */
    char szNames[TAVCAM_MAX_CAMERAS][TAVCAM_NAME_BYTES]; /*   4: entry k at 4 + 255 k */
} CameraList;

/* ---- Caller blocks ----------------------------------------------------- */

/* USBCaptureFrame's block; 80 bytes (64-bit: 96). Only these four fields are read. */
typedef struct CaptureParam {
    uint32_t reserved0[11];    /*  0 */
    uint32_t nFrames;          /* 44: pictures to deliver */
    uint32_t reserved1[5];     /* 48 */
    uint32_t* pSatCoefficient; /* 68: 100 = plain Bayer, other = through the colour table */
    void* pColourTable;        /* 72: never 0 */
    void** ppBuffers;          /* 76: nFrames destination pictures */
} CaptureParam;

/* USBLiveVideoStart's block; 112 bytes (64-bit: 128). */
typedef struct LiveVideoParam {
    uint32_t reserved0[10]; /*   0 */
    HWND hWnd;              /*  40: receives WM_LIVE_FRAME and WM_LIVE_ERROR */
    void* pImage;           /*  44: destination picture */
    uint32_t reserved1[15]; /*  48 */
    void* pColourTable;     /* 108: never 0 */
} LiveVideoParam;

/* The caller's direct buffers; 152 bytes (64-bit: 288). */
typedef struct LiveVideoParamEx {
    void* pLastBuffer;    /*  0: written by the library: buffer of the newest raw data */
    uint8_t nBuffers;     /*  4: 1..32 entries of pDirectBuffer in use */
    uint8_t reserved[19]; /*  5 */
    void* pDirectBuffer[TAVCAM_MAX_DIRECT_BUFFERS]; /* 24 */
} LiveVideoParamEx;

/* USBLiveVideoStartEx's and USBVideoOnCallbackStart's block; 24 bytes (64-bit: 48). */
typedef struct LiveVideoRequest {
    void* pImage;                        /*  0: destination picture */
    uintptr_t reserved;                  /*  4 */
    void* pColourTable;                  /*  8: never 0 */
    HANDLE hFrameEvent;                  /* 12: set after each frame (event mode) */
    LiveVideoParamEx* pLiveVideoParamEx; /* 16: optional direct buffers */
    void** ppRawFrame;                   /* 20: optional: receives each raw frame's 2nd line */
} LiveVideoRequest;

/* USBCaptureFrameEx's block; 40 bytes (64-bit: 56). */
typedef struct CaptureFrameExParam {
    uint32_t nPictures;                  /*  0 in: 0 takes one */
    uint32_t bDirectBuffer;              /*  4 in: raw transfers into the caller's ring */
    uint32_t nWidth;                     /*  8 out */
    uint32_t nLines;                     /* 12 out: ImgHeight + 4 */
    uint32_t nBits;                      /* 16 out: raw bits per pixel */
    uint32_t nFormat;                    /* 20 out */
    LiveVideoParamEx* pLiveVideoParamEx; /* 24 in */
    uint32_t* pSatCoefficient;           /* 28 in */
    void* pColourTable;                  /* 32 in */
    struct CaptureSequence* pSequence;   /* 36 in: optional */
} CaptureFrameExParam;

/* Frame sequence and frame information request; 88 bytes (64-bit: 96). */
typedef struct CaptureSequence {
    uint32_t bSequence;       /*  0 */
    uint32_t nSequenceValue;  /*  4: value of register 0x1A0 */
    uint32_t nSequenceFrames; /*  8: third word of the 0x1A0 command, at least 2 */
    uint32_t bFrameInfo;      /* 12 */
    uint32_t reserved0;       /* 16 */
    void** ppFrameInfo;       /* 20: one information buffer per handed-over frame */
    uint32_t reserved1[16];   /* 24 */
} CaptureSequence;

/* What the live-video reader of a camera did since the stream was started
 * (USBGetLiveVideoStatistics); 32 bytes on every target. */
typedef struct LiveVideoStatistics {
    uint32_t nTransfers;       /*  0: good transfers read */
    uint32_t nFramesDelivered; /*  4: frames announced */
    uint32_t nDroppedSize;     /*  8: transfers dropped: wrong size */
    uint32_t nDroppedMarkers;  /* 12: transfers dropped: wrong start or end marker */
    uint32_t nNoRoom;          /* 16: frames not written: the picture or colour table unusable */
    uint32_t nRestarts;        /* 20: stream restarts after failed reads */
    uint32_t nReadFailures;    /* 24: failed reads */
    uint32_t bRunning;         /* 28: 1 while the reader runs */
} LiveVideoStatistics;

/* Live video callback: camera name given to the start, pointer to the code
 * (LIVE_CB_FRAME or LIVE_CB_NO_ROOM), pointer to a value that is 0, 0, and the
 * caller's context. Runs on the reader thread. */
typedef void(WINAPI* LiveVideoCallback)(const char* pCameraName, uint32_t* pCode, uint32_t* pValue,
                                        uint32_t nZero, uintptr_t context);

/* Plug-and-play function: pointer to the code PNP_CODE_DEVICE_CHANGE, 0, 0 and
 * the user value. Runs on the process's notification thread. */
typedef void(WINAPI* PNPFunction)(uint32_t* pCode, uint32_t nZero1, uint32_t nZero2,
                                  uintptr_t userValue);

/* ---- Camera list and naming ------------------------------------------- */

/* Enumerates the cameras' driver interfaces and fills *pList: nCount is the
 * number of interfaces examined (the enumeration stops at the first index the
 * system has no interface for; when every one of the eight interfaces fails to
 * open, the count is 0, not 8), and one 255-byte entry is packed in for each
 * camera whose record could be read from flash: the name in its record with
 * "-" and the device index appended ("LineScan-0"). A camera whose record
 * can't be read leaves no entry but is still counted, so entries after the
 * last one written stay as they were. A record name longer than 252
 * characters is listed without suffix; a name field with no terminator is cut
 * to 254 characters. Each listed camera is marked present for every process.
 * Nothing is written when pList is null or can't be written over the whole
 * CameraList. Prints "Attempting to open PATH" (and "FAILED to open PATH")
 * on standard output for every interface examined. */
TAVCAM_API void WINAPI USBGetSuppDeviceList(CameraList* pList);

/* 1 when the name yields a device index (the character right after its first
 * '-' is '0'..'7'), else 0. Touches no camera. */
TAVCAM_API int32_t WINAPI USBControlLink(const char* pCameraName);

/* Opens the camera's driver handle and closes it again; sends nothing. Always
 * 0, for a valid name as for an invalid one. */
TAVCAM_API int32_t WINAPI USBReset(const char* pCameraName);

/* Does nothing; 1. */
TAVCAM_API int32_t WINAPI USBDeviceSWReset(void);

/* ---- Command channel ---------------------------------------------------
 * These take the device index itself: only its low byte counts, read as a
 * signed number, and an index outside 0..7 (or one whose camera can't be
 * opened) gives 0 without a request. Each call opens the camera, sends, waits
 * the camera's 100 ms (also after a failed request) and closes it again.
 * Wherever the library fetches a reply (here, and in the flash, I2C,
 * identification and feature calls), a reply of fewer than its 64 bytes
 * counts as a failed fetch (our check): its missing bytes are never read as
 * zeros. */

/* Sends the vendor command nCode with the three words (their low 16 bits,
 * high byte first). 1 when the driver took the request, else 0. */
TAVCAM_API int32_t WINAPI SendCommand(int32_t nDevice, uint32_t nCode, uint32_t nWord1,
                                      uint32_t nWord2, uint32_t nWord3);

/* A register query: sends nCode with the 16-bit nWord, then fetches the
 * camera's reply and stores its bytes 0-3 and 4-7 (little-endian) in
 * *pResult1 and *pResult2 (a null pointer skips its value). 1 when the reply
 * was fetched. 0 with both results untouched when the camera can't be opened
 * or the request fails; 0 with both results set to 0 when the fetch fails. */
TAVCAM_API int32_t WINAPI ReceiveStatus(int32_t nDevice, uint32_t nCode, uint32_t nWord,
                                        uint32_t* pResult1, uint32_t* pResult2);

/* The camera's busy status (reply bytes 0-3, high byte first) into *pStatus
 * (null: not stored). 1 when the reply was fetched; 0 with the status
 * untouched when the camera can't be opened or the request fails; 0 with the
 * status set to 0 when the fetch fails. Only cameras whose CameraModel is
 * above 2 answer it; the library asks them before USBInitDevice, USBSetFormat,
 * USBSetScanArea and the live-video starts, which return TAVCAM_BUSY for a
 * nonzero status and 0 when the query fails. */
TAVCAM_API uint8_t WINAPI GetCameraStatus(int32_t nDevice, uint32_t* pStatus);

/* ---- Flash, I2C and registers -------------------------------------------
 * Device index as for the command channel. Flash page 0 is the camera record,
 * page 1 the presets (SaveData), page 2 is accepted but unused. Only the low
 * byte of a page, I2C address, register or data byte counts, and only the low
 * 16 bits of a size. */

/* Reads nSize bytes of flash page nPage into pDestination, 64 bytes a request
 * (25 ms each). 1 when every piece arrived; then exactly nSize bytes are
 * copied. 0, with the destination untouched, when the page is above 2, the
 * size is 0 or above TAVCAM_FLASH_MAX_BYTES, the destination is null or can't
 * be written over nSize bytes, the camera can't be opened, memory runs out,
 * or any request or reply fails. */
TAVCAM_API int32_t WINAPI ReadDataFromFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                            void* pDestination);

/* Writes nSize bytes to flash page nPage: a begin, a status poll until the
 * camera reports the page ready, then pieces of 51 bytes and a final piece of
 * the remainder (count 0 when the size is a multiple of 51). 1 when the final
 * piece was taken. 0 without a request for the refusals of ReadDataFromFlash
 * (data not readable over nSize bytes instead of not writable); 0 when the
 * camera can't be opened, the begin fails, a poll fails or reports a failed
 * write (status bit 0x20), the camera is not ready after 100 polls (5 s; the
 * library's bound on that wait), or a piece fails - the page then holds what
 * the camera made of the pieces sent so far. */
TAVCAM_API int32_t WINAPI WriteDataToFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                           const void* pData);

/* Writes two data bytes (high, then low) to register nRegister of I2C device
 * nI2CAddress. 1 when the request was taken, else 0. */
TAVCAM_API int32_t WINAPI SendI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                  uint32_t nDataHigh, uint32_t nDataLow);

/* Reads two data bytes of an I2C register into *pData1 and *pData2 (the
 * 16-bit value is first x 256 + second; a null pointer skips its byte). 1 when
 * the reply was fetched; 0 with both bytes untouched when the camera can't be
 * opened or the request fails; 0 with both set to 0 when the fetch fails. */
TAVCAM_API int32_t WINAPI ReceiveI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                     uint8_t* pData1, uint8_t* pData2);

/* As SendI2C with one data byte. */
TAVCAM_API int32_t WINAPI SendI2C_OneDataByte(int32_t nDevice, uint32_t nI2CAddress,
                                              uint32_t nRegister, uint32_t nData);

/* Writes the 16-bit nValue to register nRegister of the camera's controller
 * (I2C address 122): SendI2C's result, or 0 when the name yields no device
 * index. */
TAVCAM_API int32_t WINAPI SetRegister(const char* pCameraName, uint32_t nRegister, uint32_t nValue);

/* Reads the camera's 128-byte identification block into pDestination. 1 when
 * both 64-byte pieces arrived. 0, with the destination untouched, when the
 * name yields no device index, the destination is null or can't be written
 * over 128 bytes, the camera can't be opened or a request or reply fails. */
TAVCAM_API int32_t WINAPI USBGetCameraID(const char* pCameraName, void* pDestination);

/* ---- Camera record, initialisation, presets ----------------------------
 * Name-taking functions derive the device index from the character after the
 * name's first '-' and return 0 (unless stated otherwise) without touching a
 * camera when that is not '0'..'7'. A camera's record and presets are cached
 * per process by USBInitDevice; the other calls work on that cache. */

/* Copies the cached camera record into *pRecord (2016 bytes), with the scan
 * area in force written into the entry of the current format (Height, Width,
 * Origin = left << 16 | (top & 0xFFFF)) and CurrentPreset set to the preset
 * in use. Only the copy is patched; no camera is asked. A camera never
 * initialised in this process gives a record of zeros apart from those
 * fields. A CurrentFormat of 16 or more names no entry: then no entry is
 * patched. 1, or 0 (buffer untouched) when the name yields no device index or
 * pRecord is null or can't be written over 2016 bytes. */
TAVCAM_API int32_t WINAPI USBReadDeviceParams(const char* pCameraName, CameraRecord* pRecord);

/* Brings the camera's cache up to date and puts the camera into its saved
 * preset. A camera new to this process has its record (flash page 0) and its
 * presets (page 1) read; the same name again (letter case ignored) does
 * nothing at all unless the camera was plugged again or a preset was loaded
 * since, in any process - then only the presets are read again. The current
 * preset's format and scan area become the ones in force and its settings are
 * written to the camera's registers (up to 5 for CameraModel 1, up to 18
 * otherwise). Results:
 *   TAVCAM_INIT_OK (0x800) done, or nothing needed doing;
 *   TAVCAM_BUSY (3)        the camera (CameraModel above 2) reports itself
 *                          busy; nothing was read or written;
 *   0                      the name yields no device index, the busy query
 *                          failed, a flash read failed, or a register write
 *                          failed (the cache is then up to date and a repeated
 *                          call may return 0x800 without writing again); and,
 *                          our refusal: the presets page names a current
 *                          preset above 3, or that preset names a format of 16
 *                          or more - such a page would send the library outside
 *                          its tables; nothing is applied, and the page is to
 *                          be rewritten (USBSaveParams or WriteDataToFlash). */
TAVCAM_API int32_t WINAPI USBInitDevice(const char* pCameraName);

/* Saves the settings in force - the current preset with the scan area and
 * format in force - as preset nPreset, makes it the current preset, checks it
 * against the camera record's limits (preset number within MaxPreset, scan
 * area within the format's maximum extent, the feature values within their
 * ranges, a format the camera has) and writes the presets page to flash.
 * 1 when flash was written. 0 when the name yields no device index; when
 * nPreset is above 3 (our refusal: it names no preset; nothing is touched);
 * when the checks fail or the flash write fails - the cached presets are then
 * changed all the same, and flash keeps its old page when the checks failed. */
TAVCAM_API int32_t WINAPI USBSaveParams(const char* pCameraName, uint32_t nPreset);

/* Reads the presets page from flash, makes preset nPreset current in the
 * cache and writes its settings to the camera (up to 5 registers for
 * CameraModel 1, up to 17 otherwise; never the trigger mode); with more than
 * one format it also selects the preset's format. The preset's scan area
 * becomes the one in force and reaches the camera at the next capture or
 * live-video start; every process re-applies flash's current preset at its
 * next USBInitDevice. Flash's own current preset is not changed. 1 when done.
 * 0 when the name yields no device index; when nPreset is above 3 (our
 * refusal, nothing touched); when the flash read fails (the camera and the
 * settings in force unchanged); when the camera has more than one format and
 * the preset's format is 16 or more (our refusal, traced: it would name no
 * format entry; nothing changed - with one format that byte is never used and
 * the preset loads); when a register write fails (the preset is current in
 * the cache, the registers written before keep their values, the scan area is
 * unchanged). */
TAVCAM_API int32_t WINAPI USBLoadParams(const char* pCameraName, uint32_t nPreset);

/* ---- Format, scan area, camera window ----------------------------------
 * A format index of 16 or more names none of the record's sixteen entries:
 * the calls below refuse to work from such a CurrentFormat (our refusal; it
 * can only come from a record or preset the library hasn't checked). */

/* Switches to format nFormat: the format being left remembers the scan area
 * in force, the camera gets the format select, the new format's last scan
 * area comes back through USBSetScanArea's checks, the shutter is reset to
 * the format's full height (and the frame exposure sent again, CameraModel
 * other than 1). Results: 1 done; TAVCAM_BUSY (3) the camera (CameraModel
 * above 2) is busy, nothing done; 0 when the name yields no device index, the
 * busy query fails, nFormat is not below FormatCount or is 16 or more (nothing
 * changed), a register write fails or the restored scan area is refused - the
 * steps before the failure stay done. */
TAVCAM_API int32_t WINAPI USBSetFormat(const char* pCameraName, uint32_t nFormat);

/* Chooses the scan area of the current format; nothing is sent to the camera
 * until the next capture or live-video start (through SetCameraWindow). On a
 * fixed format the request is ignored and the area becomes the whole format.
 * The shutter's maximum becomes the area's height. Results:
 *   1               done (also on a fixed format);
 *   TAVCAM_BAD_NAME (2) the name yields no device index;
 *   TAVCAM_BUSY (3) the camera (CameraModel above 2) is busy;
 *   0               the busy query failed; CurrentFormat is 16 or more; left +
 *                   width or top + height exceeds the format's maximum extent
 *                   (sums in unsigned 32-bit arithmetic, so a sum that wraps
 *                   past 2^32 passes here - SetCameraWindow then refuses such
 *                   an area); width or height is 0; left, width, top or height
 *                   is not a multiple of the format's unit, or a unit is 0.
 * A refused area leaves the one in force unchanged. */
TAVCAM_API int32_t WINAPI USBSetScanArea(const char* pCameraName, uint32_t nLeft, uint32_t nTop,
                                         uint32_t nWidth, uint32_t nHeight);

/* Writes a window into the camera's window registers (width, height, left,
 * top, in that order; each only when the low byte of its flag is nonzero).
 * Takes the device index itself (low byte, signed). The window must lie
 * within the current format's maximum extent, compared as signed numbers with
 * sums taken in 64 bits (so no sum can overflow and let a window through), at
 * least 32 pixels by 16 lines, the width a multiple of 4 and the height even.
 * The format's units are not checked here. 1 when done; 0 when the index is
 * not 0..7 (our check), CurrentFormat is 16 or more, the window breaks a rule
 * (nothing sent), or a register write fails (the registers written before it
 * stay written). */
TAVCAM_API int32_t WINAPI SetCameraWindow(int32_t nDevice, int32_t iLeft, int32_t iTop,
                                          int32_t iWidth, int32_t iHeight, uint32_t bSetLeft,
                                          uint32_t bSetTop, uint32_t bSetWidth,
                                          uint32_t bSetHeight);

/* ---- Features and colour table -----------------------------------------
 * Features are named by the FEATURE_ identifiers above; most are the camera
 * register that holds them. Setting writes the register and records the value
 * in the preset in use (so that USBSaveParams keeps it); reading answers from
 * that record for most identifiers. */

/* Sets a feature. Checked before anything is sent: brightness, frame
 * exposure, shutter and gain must lie within the record's range of the
 * feature (the shutter's maximum follows the image height), FEATURE_BITS must
 * be 0..3. FEATURE_SAT_COEFFICIENT and FEATURE_GAMMA are only recorded (the
 * saturation also reaches a running live video at its next frame); any
 * identifier the library doesn't know is written to the register of that
 * address and recorded nowhere. Auto exposure, sharpness and iris are not
 * recorded for CameraModel below 2, frame exposure not for CameraModel 1.
 * 1 when done; 0 when the name yields no device index, the value is refused
 * (camera and preset unchanged) or the register write fails (preset unchanged). */
TAVCAM_API int32_t WINAPI USBSetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                              uint32_t nValue);

/* Reads a feature into *pValue: the recorded value for the identifiers the
 * library records (FEATURE_BITS reports a stored 3 as 2; auto exposure,
 * sharpness and iris leave *pValue as it was for CameraModel below 2; frame
 * exposure reads 0 for CameraModel 1), and: 0x614 1 while live video or a
 * capture runs; 0x620 flash's current preset; 0x624 the preset in use;
 * 0x1E08..0x1E0B the input lines, asked of the camera (bits 15..8 of register
 * 0x1E08); 0x1E14 all four output-signal bits. Any other identifier is asked
 * of the camera as a register (the reply's first word). 1 when done; 0 when
 * the name yields no device index, pValue is null or not writable, or the
 * camera's answer could not be had (*pValue unchanged). */
TAVCAM_API int32_t WINAPI USBGetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                              uint32_t* pValue);

/* Sends an on/off feature; FEATURE_TRIGGER_MODE is also recorded in the
 * preset. 1 when sent; 0 when the name yields no device index or the command
 * fails. */
TAVCAM_API int32_t WINAPI USBSetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                             uint32_t nValue);

/* FEATURE_TRIGGER_MODE: the recorded value into *pValue. Any other
 * identifier: *pValue stays as it was. 1; 0 when the name yields no device
 * index, or for the trigger mode when pValue is null or not writable. */
TAVCAM_API int32_t WINAPI USBGetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                             uint32_t* pValue);

/* Sends an automatic-mode feature; nothing is recorded. 1 when sent; 0 when
 * the name yields no device index or the command fails. */
TAVCAM_API int32_t WINAPI USBSetAutoFeature(const char* pCameraName, uint32_t nFeature,
                                            uint32_t nValue);

/* Not available: sets *pValue to 0 (when writable) and returns 0, whatever
 * the name and identifier. */
TAVCAM_API int32_t WINAPI USBGetAutoFeature(const char* pCameraName, uint32_t nFeature,
                                            uint32_t* pValue);

/* Uploads table nTable (low byte) of nSize bytes (low 16 bits) to the camera:
 * an announcement, then the table in 64-byte pieces, 50 ms apart. Only the
 * nSize bytes are read: a short last piece is padded with zeros (our choice,
 * so the table need not be rounded up to 64 bytes). Tables 3 and 100 are
 * always accepted; any other table is refused, traced, when the current
 * format delivers 8-bit pictures (or CurrentFormat is 16 or more) or when the
 * record's colour feature sets the colours through its registers (bit 29 of
 * FeatureInq[3]). Result: that of the last request sent (a failed piece
 * doesn't stop the upload; with nSize 0, the announcement's); 0 when the name
 * yields no device index, pTable is null or can't be read over nSize bytes
 * (checked before anything is sent; a size of 0 needs no table), the camera
 * can't be opened, the table is refused or the announcement fails. */
TAVCAM_API int32_t WINAPI USBSendTable(const char* pCameraName, uint32_t nTable, uint32_t nSize,
                                       const void* pTable);

/* ---- Capture ------------------------------------------------------------
 * Both captures run on the caller's thread. While one runs it holds the
 * camera: a live-video start returns 1 without starting, another capture is
 * refused, and USBLiveVideoStop does not end it. The claim is taken with an
 * atomic test-and-set, so of two threads (or two calls) that start at the
 * same moment exactly one wins; every failure gives it back.
 *
 * Wrong-sized transfers and transfers whose first or last byte isn't the
 * start or end marker (0x01/0x02; 0xFF/0xFE for two-byte samples of a camera
 * of model 5 or more) are read again, and so is a transfer whose every
 * picture lacked room. 100 such transfers in a row end the capture as a
 * failed read does, so a camera that sends garbage can't hold the caller
 * forever. A capture has no time-out of its own: it waits for the camera's
 * next frame as long as the camera takes (a trigger mode waits for the
 * trigger). */

/* Takes pParam->nFrames pictures (0 takes one) into ppBuffers[0], [1], ...:
 * writes the scan area in force into the camera window, resets the camera's
 * FIFO, starts the stream and converts each good frame with the routine its
 * format calls for (format 115 and formats without a conversion count their
 * pictures without writing them; a sequential-colour picture is complete with
 * its red frame). A picture that can't be written over its size (3 bytes a
 * pixel for colour, 1 for 8-bit pictures, half the image bytes for 8-bit
 * pictures of two-byte samples; YUV 4:2:2 pictures have half the line's
 * pixels) is skipped and the next frame tried again.
 * 1: the capture ended normally, or a read failed (or 100 fruitless
 *    transfers came) and the stream then stopped: fewer pictures may have
 *    been delivered.
 * 0: no device index in the name; pParam, *pSatCoefficient or the ppBuffers
 *    array (nFrames entries) can't be read (our check); the camera has no
 *    current format, a sample size below one byte or a transfer above 256 MiB
 *    (our refusal); the camera is held by live video or another capture; the
 *    camera window failed; pColourTable is 0 (also for formats that never
 *    read it); the transfer buffer or the driver handle couldn't be had; the
 *    FIFO reset, the stream start, or the stream stop after a failed read
 *    failed.
 * The camera's reader-finished event is reset at the start and set at every
 * end after it, so a USBLiveVideoStop waiting on it wakes. */
TAVCAM_API int32_t WINAPI USBCaptureFrame(const char* pCameraName, CaptureParam* pParam);

/* Takes pParam->nPictures pictures (0 takes one) in one call. Converting mode
 * (bDirectBuffer 0): picture k goes into pLiveVideoParamEx->pDirectBuffer[k],
 * checked for room before each frame. Direct mode: raw transfers are read
 * into the ring pDirectBuffer[0 .. nBuffers-1] in turn and nothing is
 * converted; pLastBuffer names the buffer of each handed-over frame. With a
 * writable pSequence block whose bSequence is set, register 0x1A0 gets
 * nSequenceValue (third word nSequenceFrames) and the first
 * nSequenceFrames - 2 frames are converted but not handed over; with
 * bFrameInfo set, each handed-over frame's information record (0x77 0x77 in
 * the first 16 bytes of its second line, then a count N: 4 N + 4 bytes) is
 * copied into the next buffer of ppFrameInfo, at most one raw line of it (the
 * room checked there) and never from beyond its frame. Pictures advance once
 * per transfer; the frames of a transfer are handed over from the buffer that
 * received it and the ring moves on once per transfer. On success nWidth,
 * nLines (lines + 4), nBits (8 or 16) and nFormat are written.
 * Results: CAPEX_OK; CAPEX_BAD_NAME no device index in the name;
 * CAPEX_RUNNING live video or a capture holds the camera (also a camera this
 * process never initialised); CAPEX_WINDOW_FAILED; CAPEX_NO_COLOUR_TABLE;
 * CAPEX_OPEN_FAILED; CAPEX_NO_BUFFER a ring buffer can't hold a transfer
 * (every one is checked: our check), the internal buffers couldn't be
 * allocated, or the transfer would exceed 256 MiB; CAPEX_START_FAILED the
 * 0x1A0 command, the FIFO reset or the stream start failed; CAPEX_READ_FAILED
 * a read failed or 100 wrong transfers came in a row (the stream is stopped
 * and the FIFO reset with 0); CAPEX_BAD_REQUEST (our refusal, before the
 * camera is claimed) pParam or *pSatCoefficient can't be read, nPictures is
 * above 32, the LiveVideoParamEx block can't be read, a direct-mode ring's
 * nBuffers is not 1..32, or a sequence has fewer than 2 frames. After every
 * result the camera is idle. It leaves the reader-finished event alone. */
TAVCAM_API int32_t WINAPI USBCaptureFrameEx(const char* pCameraName, CaptureFrameExParam* pParam);

/* Stores the cached CameraModel (0 for a camera never initialised) in
 * *pCameraModel; talks to no camera. 1; 2 when the name has no device index;
 * 0 when *pCameraModel can't be written (our check). */
TAVCAM_API int32_t WINAPI USBGetUrgentInfo(const char* pCameraName, uint32_t* pCameraModel);

/* Does nothing; returns 0. */
TAVCAM_API int32_t WINAPI USBGetData(void);

/* ---- Live video -----------------------------------------------------------
 * A start prepares the camera (busy status for models above 2, the four
 * camera-window registers, the shutter no higher than its maximum, which
 * follows the image height: a lower one is kept in the preset) and starts a
 * reader thread that reads transfers, converts each frame into pImage and
 * announces it: WM_LIVE_FRAME posted to hWnd (window mode), hFrameEvent set
 * (event mode), or the callback called on the reader thread with
 * LIVE_CB_FRAME (callback mode). A picture that can't be written (or a colour
 * table that can't be read over its 48 MiB when the coefficient isn't 100: our
 * check) is reported instead: WM_LIVE_ERROR with LIVE_ERR_NO_ROOM, or
 * LIVE_CB_NO_ROOM; event mode stays silent; the stream goes on. Transfers of
 * the wrong size are dropped (window mode: WM_LIVE_ERROR with LIVE_ERR_SIZE),
 * a read of exactly 2 bytes passes that test and its markers are then those
 * the buffer holds; transfers with wrong markers are dropped silently. A
 * failed read stops and restarts the stream: a new reader allows four
 * restarts, and a run of 52 good transfers gives five from there. A camera
 * that goes away ends the reader. Whenever the reader ends, it sets the
 * camera's reader-finished event and then gives the camera back.
 *
 * Each notice follows the complete writing of the picture. The next frame is
 * written into pImage without waiting for the caller, so a slow caller can
 * see it. With direct buffers each transfer is read straight into the
 * caller's ring (the library copies no raw frame); for each delivered frame
 * two stretches of 2 x width bytes (at the frame's start and at the start
 * plus the image size) are cleared, pLastBuffer is set to the buffer that
 * holds it (always one holding a complete transfer), and the ring moves on
 * once per transfer that delivered a frame. *ppRawFrame receives, before each
 * frame is processed, the address of its second line in the buffer that
 * holds it; without direct buffers that raw frame stays intact until the
 * transfer after next. A frame whose format has no conversion (8-bit pictures
 * of formats other than 1 and 2) is read and dropped; formats 200 and 210 are
 * announced without writing pImage; sequential colour is announced with its
 * red frame.
 *
 * The saturation coefficient is the current preset's (as the preset stores
 * it: 8 bits in the long layout, 16 in the short); USBSetCameraFeature of
 * FEATURE_SAT_COEFFICIENT changes it for the running stream from its next
 * frame. Exactly 100 selects the plain Bayer reconstruction, anything else
 * the caller's colour table.
 *
 * Results of the three starts: 1 the reader was started, or live video or a
 * capture already holds the camera (nothing is changed: a camera this process
 * never initialised reads as held, and nothing starts); 2 no device index in
 * the name, or USBLiveVideoStart without pColourTable, USBLiveVideoStartEx
 * without hFrameEvent, USBVideoOnCallbackStart without a callback; 3 the
 * camera reported a nonzero busy status; 0 the status query, the camera
 * window or the shutter command failed, pColourTable is 0 (event and
 * callback mode), a direct buffer can't hold a transfer, the request block
 * can't be read or ppRawFrame can't be written (our checks), the transfer
 * would exceed 256 MiB (our refusal), or the reader thread couldn't be
 * created. Whatever fails, the camera is left idle and claimable. A
 * LiveVideoParamEx block that can't be read or whose nBuffers is not 1..32
 * is not an error: the stream runs without direct buffers. Every pointer the
 * library keeps (name, pImage, colour table, ring, ppRawFrame) must stay valid
 * until the reader has ended. */
TAVCAM_API int32_t WINAPI USBLiveVideoStart(const char* pCameraName, LiveVideoParam* pParam);
TAVCAM_API int32_t WINAPI USBLiveVideoStartEx(const char* pCameraName, LiveVideoRequest* pRequest);
TAVCAM_API int32_t WINAPI USBVideoOnCallbackStart(const char* pCameraName,
                                                  LiveVideoRequest* pRequest,
                                                  LiveVideoCallback pfnCallback, uintptr_t context);

/* Stops the camera's reader: sets its stop request and waits for the reader
 * to end, at most 6 s in all. A reader waiting for a frame that doesn't come
 * (a trigger never given) is not waited for: after 200 ms the stop stops the
 * camera's stream, which ends that read, so the reader ends at once (our
 * decision). When it returns after the reader ended, the camera is idle and
 * can be started again at once. A reader that didn't end within the 6 s
 * keeps its thread handle recorded, so no initialisation hands the camera to
 * a second reader while it runs; the next start closes it. During a capture
 * the stop only waits (the capture doesn't stop). 1, also when nothing ran
 * (then at once); 0 when the name has no device index. Detaching the library
 * does not stop readers: stop every stream before unloading it. */
TAVCAM_API int32_t WINAPI USBLiveVideoStop(const char* pCameraName);

/* Counts of what the camera's reader did since the stream was started (see
 * LiveVideoStatistics): 1; 2 when the name has no device index; 0 when
 * *pStatistics can't be written. Any thread may ask at any time. */
TAVCAM_API int32_t WINAPI USBGetLiveVideoStatistics(const char* pCameraName,
                                                    LiveVideoStatistics* pStatistics);

/* ---- Processes: loading and unloading the library ----------------------- */
/*
 * The first process that loads the library starts the device monitor, a
 * process of the library's own, which ends with the last application.
 *
 * - At most four processes use the library at once: the monitor and three
 *   applications. Only running processes count: a process that was killed
 *   gives its place back. A further process gets a library that refuses
 *   every call (on Windows its load fails).
 * - The monitor ends when the last application unloads the library, or
 *   within about a second when the last one was killed. An application that
 *   starts while that monitor is ending waits for it to be gone (at most
 *   5 s) and gets a monitor of its own; should the old monitor hang beyond
 *   that, the library stays inert in the new process (every call fails).
 * - Unloading: the detach stops the process's plug-and-play notification
 *   thread (see PNPFunctionThreadStop) and, in the last application, tells
 *   the monitor to end, waiting at most 3 s for the monitor to take that
 *   message (on Windows inside the loader lock). If that runs out the detach
 *   goes on; the monitor still ends, when it gets to the message or at its
 *   next one-second check.
 * - On Windows a thread of the library keeps the library loaded while it
 *   runs: with a registered plug-and-play function, FreeLibrary unloads it
 *   only once PNPFunctionThreadStop has ended the notification thread, and
 *   with live video running only once USBLiveVideoStop (or the camera's
 *   end) has ended the reader (or when the process ends). The detach, which
 *   runs inside the loader lock, therefore never waits for a thread, and
 *   its one message to the monitor is bounded and answers no message sent
 *   to the detaching thread meanwhile.
 * - On POSIX the library stays loaded once loaded: dlclose does not unload
 *   it, and so does not detach the process; it stays counted until the
 *   process exits, when its detach runs. (Threads of its own - the monitor
 *   reaper, the message receiver, live-video readers - run its code until
 *   the process ends, and an unload at exit must never load it again.)
 * - A child forked by an application has no part of its own: when it
 *   exits, the parent stays attached and the monitor keeps running.
 * - The monitor keeps none of the standard streams of the process that
 *   started it ("app | tee log" ends with app).
 */

/* ---- Plug-and-play --------------------------------------------------------- */
/*
 * The monitor watches cameras arrive and leave. On every device-change
 * broadcast (on POSIX: within a second of a camera's socket appearing in or
 * leaving the device directory) it waits 500 ms, looks at each of the eight
 * device indexes (100 ms each for a camera that is there) and, for each
 * camera whose presence changed, in index order: marks it to be read afresh
 * at its next USBInitDevice, in whichever process that comes, and tells every
 * client, once per changed camera. The notice does not say which camera; the
 * camera list does. Every registered window receives WM_CAMERA_CHANGE
 * (wParam 0, lParam 0), sent: the monitor waits for the window's answer, at
 * most 5 s (a window whose process has died costs nothing). Then every
 * process with a registered function has that function called, on its
 * notification thread, with a pointer to PNP_CODE_DEVICE_CHANGE, 0, 0 and
 * its user value; notices that come while the function runs are merged into
 * that call.
 *
 * USBRegisterClient(hWnd): adds the window to the monitor's list (once; the
 *   list holds 100). First waits for the monitor window, looking every
 *   100 ms, at most 10 s. 1 when done, and for a null window (nothing is
 *   registered); 0 when the monitor window did not appear in those 10 s or
 *   the monitor can't be reached, and in a process where the library is
 *   inert.
 * USBDeRegisterClient(hWnd): removes the window; from the return on it gets
 *   no notice. Does not wait for the monitor window (with none yet, nothing
 *   is sent). 1 (0 where the library is inert).
 * USBRegisterPNPFunction(pfnFunction, userValue): waits for the monitor
 *   window as above, looking every second. The first registration starts
 *   the process's notification thread and returns once the monitor has made
 *   that thread's event (at most 5 s more), so a camera that changes right
 *   after the return is reported (our decision); a later one replaces the function and
 *   user value from the next notice on; a null function stops the calls (the
 *   thread stays). 1; 0 when the monitor window did not appear in 10 s, the
 *   thread could not be started, and where the library is inert. Should the
 *   thread fail to open its event, it ends and no function of the process is
 *   called until PNPFunctionThreadStop and a new registration.
 * PNPFunctionThreadStop(): ends the notification thread and forgets the
 *   function. Waits for the thread at most 5 s (it may be running the
 *   function), and not at all when called from the function itself. Called
 *   twice, or without a registration, it does nothing. Always 1. The
 *   library's unload calls it; on Windows, under the loader lock, that call
 *   never waits (see above: the thread can't be running then).
 */

TAVCAM_API int32_t WINAPI USBRegisterClient(HWND hWnd);
TAVCAM_API int32_t WINAPI USBDeRegisterClient(HWND hWnd);
TAVCAM_API int32_t WINAPI USBRegisterPNPFunction(PNPFunction pfnFunction, uintptr_t userValue);
TAVCAM_API int32_t WINAPI PNPFunctionThreadStop(void);

/* The device monitor's entry, run by the system's DLL host (RUNDLL32 on
 * Windows, tavcam-rundll next to the library on POSIX). Not for applications. */
TAVCAM_API int32_t WINAPI DLL_Thread(HWND hWnd, HINSTANCE hInstance, char* pCmdLine,
                                     int32_t nCmdShow);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks -------------------------------------------------------- */

#if defined(__cplusplus)
#define TAVCAM_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define TAVCAM_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

TAVCAM_STATIC_ASSERT(sizeof(FormatEntry) == 88, "FormatEntry is 88 bytes");
TAVCAM_STATIC_ASSERT(offsetof(FormatEntry, Height) == 52, "FormatEntry.Height");
TAVCAM_STATIC_ASSERT(offsetof(FormatEntry, FormatCode) == 68, "FormatEntry.FormatCode");
TAVCAM_STATIC_ASSERT(offsetof(FormatEntry, Origin) == 84, "FormatEntry.Origin");
TAVCAM_STATIC_ASSERT(sizeof(CameraRecord) == 2016, "CameraRecord is 2016 bytes");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, Formats) == 8, "CameraRecord.Formats");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, CurrentPreset) == 1416, "CameraRecord.CurrentPreset");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, CameraModel) == 1420, "CameraRecord.CameraModel");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, CameraName) == 1424, "CameraRecord.CameraName");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, MaxPreset) == 1936, "CameraRecord.MaxPreset");
TAVCAM_STATIC_ASSERT(offsetof(CameraRecord, FeatureInq) == 1948, "CameraRecord.FeatureInq");
TAVCAM_STATIC_ASSERT(sizeof(CameraList) == 4 + 8 * 255, "CameraList is 2044 bytes");
TAVCAM_STATIC_ASSERT(offsetof(CaptureParam, nFrames) == 44, "CaptureParam.nFrames");
TAVCAM_STATIC_ASSERT(offsetof(CaptureFrameExParam, pLiveVideoParamEx) == 24,
                     "CaptureFrameExParam.pLiveVideoParamEx");
TAVCAM_STATIC_ASSERT(offsetof(CaptureSequence, ppFrameInfo) == 20 || sizeof(void*) == 8,
                     "CaptureSequence.ppFrameInfo");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoStatistics) == 32, "LiveVideoStatistics is 32 bytes");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoStatistics, nRestarts) == 20, "LiveVideoStatistics");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoParamEx, nBuffers) == sizeof(void*),
                     "LiveVideoParamEx.nBuffers");

#if defined(_WIN32) && !defined(_WIN64)
/* The 32-bit DLL's layouts, byte for byte. */
TAVCAM_STATIC_ASSERT(sizeof(CaptureParam) == 80, "CaptureParam is 80 bytes");
TAVCAM_STATIC_ASSERT(offsetof(CaptureParam, pSatCoefficient) == 68, "CaptureParam.pSat");
TAVCAM_STATIC_ASSERT(offsetof(CaptureParam, pColourTable) == 72, "CaptureParam.pColourTable");
TAVCAM_STATIC_ASSERT(offsetof(CaptureParam, ppBuffers) == 76, "CaptureParam.ppBuffers");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoParam) == 112, "LiveVideoParam is 112 bytes");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoParam, hWnd) == 40, "LiveVideoParam.hWnd");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoParam, pImage) == 44, "LiveVideoParam.pImage");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoParam, pColourTable) == 108, "LiveVideoParam.pColour");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoParamEx) == 152, "LiveVideoParamEx is 152 bytes");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoParamEx, pDirectBuffer) == 24, "pDirectBuffer");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoRequest) == 24, "LiveVideoRequest is 24 bytes");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoRequest, pColourTable) == 8, "LVR.pColourTable");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoRequest, hFrameEvent) == 12, "LVR.hFrameEvent");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoRequest, pLiveVideoParamEx) == 16, "LVR.pLVPEx");
TAVCAM_STATIC_ASSERT(offsetof(LiveVideoRequest, ppRawFrame) == 20, "LVR.ppRawFrame");
TAVCAM_STATIC_ASSERT(sizeof(CaptureFrameExParam) == 40, "CaptureFrameExParam is 40 bytes");
TAVCAM_STATIC_ASSERT(offsetof(CaptureFrameExParam, pSatCoefficient) == 28, "CFEx.pSat");
TAVCAM_STATIC_ASSERT(offsetof(CaptureFrameExParam, pColourTable) == 32, "CFEx.pColourTable");
TAVCAM_STATIC_ASSERT(offsetof(CaptureFrameExParam, pSequence) == 36, "CFEx.pSequence");
TAVCAM_STATIC_ASSERT(sizeof(CaptureSequence) == 88, "CaptureSequence is 88 bytes");
#endif

#if defined(__x86_64__) || defined(_WIN64) || defined(__aarch64__)
/* The natural 64-bit layouts, documented above. */
TAVCAM_STATIC_ASSERT(sizeof(CaptureParam) == 96, "64-bit CaptureParam");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoParam) == 128, "64-bit LiveVideoParam");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoParamEx) == 288, "64-bit LiveVideoParamEx");
TAVCAM_STATIC_ASSERT(sizeof(LiveVideoRequest) == 48, "64-bit LiveVideoRequest");
TAVCAM_STATIC_ASSERT(sizeof(CaptureFrameExParam) == 56, "64-bit CaptureFrameExParam");
TAVCAM_STATIC_ASSERT(sizeof(CaptureSequence) == 96, "64-bit CaptureSequence");
#endif

#endif /* TAVCAM_H */
