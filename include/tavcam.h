/*
 * tavcam.h - the tavcam camera library's calling interface.
 *
 * Every export is a plain C function with the Windows API calling convention
 * (WINAPI, __stdcall on 32-bit Windows; nothing on other targets) returning a
 * 32-bit integer whose meaning is given with each function. Cameras are named
 * by the camera names that USBGetSuppDeviceList hands out ("LineScan-0"); the
 * digit after the first '-' is the device index 0..7.
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

TAVCAM_API void WINAPI USBGetSuppDeviceList(CameraList* pList);
TAVCAM_API int32_t WINAPI USBControlLink(const char* pCameraName);
TAVCAM_API int32_t WINAPI USBReset(const char* pCameraName);
TAVCAM_API int32_t WINAPI USBDeviceSWReset(void);

/* ---- Command channel (device index: low byte, signed) ----------------- */

TAVCAM_API int32_t WINAPI SendCommand(int32_t nDevice, uint32_t nCode, uint32_t nWord1,
                                      uint32_t nWord2, uint32_t nWord3);
TAVCAM_API int32_t WINAPI ReceiveStatus(int32_t nDevice, uint32_t nCode, uint32_t nWord,
                                        uint32_t* pResult1, uint32_t* pResult2);
TAVCAM_API uint8_t WINAPI GetCameraStatus(int32_t nDevice, uint32_t* pStatus);

/* ---- Flash, I2C and registers ----------------------------------------- */

TAVCAM_API int32_t WINAPI ReadDataFromFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                            void* pDestination);
TAVCAM_API int32_t WINAPI WriteDataToFlash(int32_t nDevice, uint32_t nPage, uint32_t nSize,
                                           const void* pData);
TAVCAM_API int32_t WINAPI SendI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                  uint32_t nDataHigh, uint32_t nDataLow);
TAVCAM_API int32_t WINAPI ReceiveI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                     uint8_t* pData1, uint8_t* pData2);
TAVCAM_API int32_t WINAPI SendI2C_OneDataByte(int32_t nDevice, uint32_t nI2CAddress,
                                              uint32_t nRegister, uint32_t nData);
TAVCAM_API int32_t WINAPI SetRegister(const char* pCameraName, uint32_t nRegister, uint32_t nValue);
TAVCAM_API int32_t WINAPI USBGetCameraID(const char* pCameraName, void* pDestination);

/* ---- Camera record, initialisation, presets ---------------------------- */

TAVCAM_API int32_t WINAPI USBReadDeviceParams(const char* pCameraName, CameraRecord* pRecord);
TAVCAM_API int32_t WINAPI USBInitDevice(const char* pCameraName);
TAVCAM_API int32_t WINAPI USBSaveParams(const char* pCameraName, uint32_t nPreset);
TAVCAM_API int32_t WINAPI USBLoadParams(const char* pCameraName, uint32_t nPreset);

/* ---- Format, scan area, camera window ---------------------------------- */

TAVCAM_API int32_t WINAPI USBSetFormat(const char* pCameraName, uint32_t nFormat);
TAVCAM_API int32_t WINAPI USBSetScanArea(const char* pCameraName, uint32_t nLeft, uint32_t nTop,
                                         uint32_t nWidth, uint32_t nHeight);
TAVCAM_API int32_t WINAPI SetCameraWindow(int32_t nDevice, int32_t iLeft, int32_t iTop,
                                          int32_t iWidth, int32_t iHeight, uint32_t bSetLeft,
                                          uint32_t bSetTop, uint32_t bSetWidth,
                                          uint32_t bSetHeight);

/* ---- Features and colour table ----------------------------------------- */

TAVCAM_API int32_t WINAPI USBSetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                              uint32_t nValue);
TAVCAM_API int32_t WINAPI USBGetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                              uint32_t* pValue);
TAVCAM_API int32_t WINAPI USBSetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                             uint32_t nValue);
TAVCAM_API int32_t WINAPI USBGetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                             uint32_t* pValue);
TAVCAM_API int32_t WINAPI USBSetAutoFeature(const char* pCameraName, uint32_t nFeature,
                                            uint32_t nValue);
TAVCAM_API int32_t WINAPI USBGetAutoFeature(const char* pCameraName, uint32_t nFeature,
                                            uint32_t* pValue);
TAVCAM_API int32_t WINAPI USBSendTable(const char* pCameraName, uint32_t nTable, uint32_t nSize,
                                       const void* pTable);

/* ---- Capture ------------------------------------------------------------ */

TAVCAM_API int32_t WINAPI USBCaptureFrame(const char* pCameraName, CaptureParam* pParam);
TAVCAM_API int32_t WINAPI USBCaptureFrameEx(const char* pCameraName, CaptureFrameExParam* pParam);
TAVCAM_API int32_t WINAPI USBGetUrgentInfo(const char* pCameraName, uint32_t* pCameraModel);
TAVCAM_API int32_t WINAPI USBGetData(void);

/* ---- Live video ---------------------------------------------------------- */

TAVCAM_API int32_t WINAPI USBLiveVideoStart(const char* pCameraName, LiveVideoParam* pParam);
TAVCAM_API int32_t WINAPI USBLiveVideoStartEx(const char* pCameraName, LiveVideoRequest* pRequest);
TAVCAM_API int32_t WINAPI USBVideoOnCallbackStart(const char* pCameraName,
                                                  LiveVideoRequest* pRequest,
                                                  LiveVideoCallback pfnCallback, uintptr_t context);
TAVCAM_API int32_t WINAPI USBLiveVideoStop(const char* pCameraName);

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
 * - On Windows a registered plug-and-play function keeps the library loaded:
 *   FreeLibrary unloads it only once PNPFunctionThreadStop has ended the
 *   notification thread (or when the process ends).
 * - On POSIX dlclose does not unload the library, and so does not detach
 *   the process, once the library has started a thread or a process of its
 *   own there: in the process that created the shared block (it started the
 *   monitor), and in any process that made a window, sent to one
 *   (USBRegisterClient, USBDeRegisterClient), registered a plug-and-play
 *   function or ran live video. The library then stays loaded and counted
 *   until the process exits, when its detach runs.
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
 *   the process's notification thread; a later one replaces the function and
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
