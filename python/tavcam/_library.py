"""Finding and loading the tavcam library, and its C interface in ctypes.

The library is looked for, in this order:

1. the file named by the environment variable ``TAVCAM_LIBRARY``;
2. the library this copy of the package was built or installed with (the
   build and the install rules write its path into ``_location.py``);
3. ``libtavcam.so`` / ``tavcam.dll`` next to the package's own files;
4. the system's search (``ctypes.util.find_library("tavcam")``, then the
   bare file name, which the dynamic loader looks up).

``LIBRARY_PATH`` names the file that was loaded and ``LIBRARY_SOURCE`` which
of those ways found it. The layouts below are those of ``tavcam.h`` on the
machine's word size; their sizes are checked when the module loads.
"""

import ctypes
import ctypes.util
import os
import sys
import threading

from ._errors import TavcamError, TavcamTimeout

_WINDOWS = os.name == "nt"
_FILE_NAME = "tavcam.dll" if _WINDOWS else "libtavcam.so"
_HERE = os.path.dirname(os.path.abspath(__file__))


def _candidates():
    own = os.environ.get("TAVCAM_LIBRARY")
    if own:
        yield own, "TAVCAM_LIBRARY"
        return  # an explicit choice is not second-guessed
    try:
        from . import _location

        yield _location.LIBRARY, "built or installed with the package"
    except ImportError:
        pass
    yield os.path.join(_HERE, _FILE_NAME), "next to the package"
    found = ctypes.util.find_library("tavcam")
    if found:
        yield found, "system search"
    yield _FILE_NAME, "system search"


def _load():
    tried = []
    loader = ctypes.WinDLL if _WINDOWS else ctypes.CDLL
    for path, source in _candidates():
        if os.path.isabs(path) and not os.path.exists(path):
            tried.append(f"{path} ({source}): no such file")
            continue
        try:
            library = loader(path)
        except OSError as error:
            tried.append(f"{path} ({source}): {error}")
            continue
        return library, getattr(library, "_name", path), source
    raise ImportError("tavcam: the tavcam library was not found; tried:\n  " + "\n  ".join(tried))


_lib, LIBRARY_PATH, LIBRARY_SOURCE = _load()
if hasattr(_lib, "_name") and os.path.exists(LIBRARY_PATH):
    LIBRARY_PATH = os.path.abspath(LIBRARY_PATH)

# Exports use the Windows API calling convention: stdcall on 32-bit Windows.
_FUNCTYPE = ctypes.WINFUNCTYPE if _WINDOWS else ctypes.CFUNCTYPE

u32 = ctypes.c_uint32
i32 = ctypes.c_int32
vp = ctypes.c_void_p

# ---- Constants of tavcam.h --------------------------------------------------

MAX_CAMERAS = 8
MAX_DIRECT_BUFFERS = 32
RESULT_OK = 1
RESULT_BAD_NAME = 2
RESULT_BUSY = 3
INIT_OK = 0x800
LIVE_CB_FRAME = 100
LIVE_CB_NO_ROOM = 101
COLOUR_TABLE_BYTES = 3 << 24


# ---- Records and caller blocks ---------------------------------------------


class FormatEntry(ctypes.Structure):
    _fields_ = [
        ("reserved", ctypes.c_uint8 * 52),
        ("Height", u32),
        ("Width", u32),
        ("RawBits", u32),
        ("OutBits", u32),
        ("FormatCode", u32),
        ("PartialScan", u32),
        ("MaxSize", u32),
        ("UnitSize", u32),
        ("Origin", u32),
    ]


class CameraRecord(ctypes.Structure):
    _fields_ = [
        ("FormatCount", u32),
        ("CurrentFormat", u32),
        ("Formats", FormatEntry * 16),
        ("CurrentPreset", u32),
        ("CameraModel", u32),
        ("CameraName", ctypes.c_char * 255),
        ("reserved1", ctypes.c_uint8 * 257),
        ("MaxPreset", u32),
        ("reserved2", ctypes.c_uint8 * 8),
        ("FeatureInq", u32 * 17),
    ]


class CameraList(ctypes.Structure):
    _fields_ = [("nCount", u32), ("szNames", (ctypes.c_char * 255) * MAX_CAMERAS)]


class LiveVideoParamEx(ctypes.Structure):
    _fields_ = [
        ("pLastBuffer", vp),
        ("nBuffers", ctypes.c_uint8),
        ("reserved", ctypes.c_uint8 * 19),
        ("pDirectBuffer", vp * MAX_DIRECT_BUFFERS),
    ]


class LiveVideoRequest(ctypes.Structure):
    _fields_ = [
        ("pImage", vp),
        ("reserved", ctypes.c_size_t),
        ("pColourTable", vp),
        ("hFrameEvent", vp),
        ("pLiveVideoParamEx", ctypes.POINTER(LiveVideoParamEx)),
        ("ppRawFrame", ctypes.POINTER(vp)),
    ]


class LiveVideoStatistics(ctypes.Structure):
    _fields_ = [
        ("nTransfers", u32),
        ("nFramesDelivered", u32),
        ("nDroppedSize", u32),
        ("nDroppedMarkers", u32),
        ("nNoRoom", u32),
        ("nRestarts", u32),
        ("nReadFailures", u32),
        ("bRunning", u32),
    ]


_POINTER = ctypes.sizeof(vp)
for _type, _size in (
    (FormatEntry, 88),
    (CameraRecord, 2016),
    (CameraList, 2044),
    (LiveVideoStatistics, 32),
    (LiveVideoParamEx, 152 if _POINTER == 4 else 288),
    (LiveVideoRequest, 24 if _POINTER == 4 else 48),
):
    assert ctypes.sizeof(_type) == _size, f"{_type.__name__} is {ctypes.sizeof(_type)} bytes"
assert CameraRecord.FeatureInq.offset == 1948 and CameraRecord.CameraModel.offset == 1420

# Live video callback: camera name, pointer to the code, pointer to a value,
# 0, the caller's context. The pointers arrive as plain addresses: ctypes then
# makes no objects for them on each call (the callback runs for every frame).
# Plug-and-play function: pointer to the code, 0, 0, the user value.
LiveVideoCallback = _FUNCTYPE(None, vp, vp, vp, u32, ctypes.c_size_t)
PNPFunction = _FUNCTYPE(None, ctypes.POINTER(u32), u32, u32, ctypes.c_size_t)

# ---- Prototypes ---------------------------------------------------------------

_name = ctypes.c_char_p


def _proto(library, function, restype, *argtypes):
    f = getattr(library, function)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


USBGetSuppDeviceList = _proto(_lib, "USBGetSuppDeviceList", None, ctypes.POINTER(CameraList))
USBControlLink = _proto(_lib, "USBControlLink", i32, _name)
USBInitDevice = _proto(_lib, "USBInitDevice", i32, _name)
USBReadDeviceParams = _proto(_lib, "USBReadDeviceParams", i32, _name, ctypes.POINTER(CameraRecord))
USBSaveParams = _proto(_lib, "USBSaveParams", i32, _name, u32)
USBLoadParams = _proto(_lib, "USBLoadParams", i32, _name, u32)
USBSetFormat = _proto(_lib, "USBSetFormat", i32, _name, u32)
USBSetScanArea = _proto(_lib, "USBSetScanArea", i32, _name, u32, u32, u32, u32)
USBSetCameraFeature = _proto(_lib, "USBSetCameraFeature", i32, _name, u32, u32)
USBGetCameraFeature = _proto(_lib, "USBGetCameraFeature", i32, _name, u32, ctypes.POINTER(u32))
USBSetOnOffFeature = _proto(_lib, "USBSetOnOffFeature", i32, _name, u32, u32)
USBGetOnOffFeature = _proto(_lib, "USBGetOnOffFeature", i32, _name, u32, ctypes.POINTER(u32))
USBVideoOnCallbackStart = _proto(_lib, "USBVideoOnCallbackStart", i32, _name,
                                 ctypes.POINTER(LiveVideoRequest), LiveVideoCallback, ctypes.c_size_t)
USBLiveVideoStartEx = _proto(_lib, "USBLiveVideoStartEx", i32, _name,
                             ctypes.POINTER(LiveVideoRequest))
USBLiveVideoStop = _proto(_lib, "USBLiveVideoStop", i32, _name)
USBGetLiveVideoStatistics = _proto(_lib, "USBGetLiveVideoStatistics", i32, _name,
                                   ctypes.POINTER(LiveVideoStatistics))
USBRegisterPNPFunction = _proto(_lib, "USBRegisterPNPFunction", i32, PNPFunction, ctypes.c_size_t)
PNPFunctionThreadStop = _proto(_lib, "PNPFunctionThreadStop", i32)

# Events, for event-mode live video: the library's own on POSIX
# (tavcam_posix.h), the system's on Windows.
_events = ctypes.WinDLL("kernel32") if _WINDOWS else _lib
CreateEventA = _proto(_events, "CreateEventA", vp, vp, ctypes.c_int, ctypes.c_int, ctypes.c_char_p)
WaitForSingleObject = _proto(_events, "WaitForSingleObject", u32, vp, u32)
CloseHandle = _proto(_events, "CloseHandle", ctypes.c_int, vp)


def check(function, result, ok=RESULT_OK, what=None):
    """Turns a library result into TavcamError unless it is ``ok``."""
    if result == ok:
        return result
    meaning = {0: "failed", RESULT_BAD_NAME: "the name has no device index",
               RESULT_BUSY: "the camera reports itself busy"}.get(result, "failed")
    text = f"{function} returned {result}: {meaning}"
    if what:
        text = f"{what}: {text}"
    raise TavcamError(text, function, result)


def encode_name(name):
    if isinstance(name, bytes):
        return name
    return str(name).encode("ascii")


# ---- Bounded calls ------------------------------------------------------------


def bounded(timeout, what, function, *args):
    """Runs ``function(*args)`` and returns its result, waiting at most
    ``timeout`` seconds (None: as long as it takes).

    The call runs on a worker thread; when it outlives the timeout,
    TavcamTimeout is raised and the call goes on there until it returns (a
    library call can't be cancelled from outside). The worker is a daemon
    thread, so it never keeps the interpreter from ending.
    """
    if timeout is None:
        return function(*args)
    outcome = {}
    done = threading.Event()

    def work():
        try:
            outcome["value"] = function(*args)
        except BaseException as error:  # handed to the waiting thread
            outcome["error"] = error
        finally:
            done.set()

    threading.Thread(target=work, name=f"tavcam: {what}", daemon=True).start()
    if not done.wait(timeout):
        raise TavcamTimeout(f"{what} did not finish within {timeout} s (it goes on in the "
                            "background until the library returns)")
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


# ---- Quiet enumeration ----------------------------------------------------------

_libc = None
if not _WINDOWS:
    try:
        _libc = ctypes.CDLL(None)
        _libc.fflush.argtypes = [vp]
        _libc.fflush.restype = ctypes.c_int
    except (OSError, AttributeError):
        _libc = None


class quiet_stdout:
    """Sends the process's standard output (file descriptor 1) to the null
    device while the library enumerates: USBGetSuppDeviceList prints a line
    for every device it opens. Output that other threads write meanwhile is
    lost too, so this is used only around that one call."""

    def __init__(self, enabled=True):
        self.enabled = enabled and _libc is not None
        self.saved = None

    def __enter__(self):
        if not self.enabled:
            return self
        try:
            sys.stdout.flush()
        except (AttributeError, ValueError, OSError):
            pass
        _libc.fflush(None)
        self.saved = os.dup(1)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.close(null)
        return self

    def __exit__(self, *exc):
        if self.saved is not None:
            _libc.fflush(None)
            os.dup2(self.saved, 1)
            os.close(self.saved)
            self.saved = None
        return False
