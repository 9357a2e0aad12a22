"""The camera list and one camera: initialisation, record, features, format,
scan area, presets, captures and streams."""

import ctypes
import threading
from dataclasses import dataclass

from . import _library as L
from ._errors import TavcamError, TavcamTimeout
from ._live import _claims, _claims_lock
from ._records import FEATURES, FIXED_RANGES, REGISTER_MAX, feature_key, record_from
from ._stream import DEFAULT_FRAME_TIMEOUT, Stream, capture

# A camera's cached record and presets are the process's; so is whether it
# was initialised (the library treats a camera never initialised in this
# process as held, and starts no live video on it).
_initialised = set()
_enumerated = threading.Event()
_enumeration_lock = threading.Lock()


@dataclass(frozen=True)
class CameraInfo:
    """A camera of the list: its name ("LineScan-0") and device index (0..7)."""

    name: str
    index: int

    def __str__(self):
        return self.name


def device_index(name):
    """The device index of a camera name: the digit after its first '-'."""
    head, dash, rest = name.partition("-")
    if not dash or not rest or rest[0] not in "01234567":
        raise ValueError(f"{name!r} is not a camera name: the character after its first '-' "
                         "must be the device index 0..7")
    return int(rest[0])


def cameras(timeout=60.0, quiet=True):
    """The cameras present, as CameraInfo (name and index), in index order.

    Enumerating reads each camera's record from its flash (about 0.8 s a
    camera). ``quiet`` sends the lines the library prints for every device it
    opens to the null device. An empty list when no camera is present."""

    def enumerate_cameras():
        listing = L.CameraList()
        with _enumeration_lock, L.quiet_stdout(quiet):
            L.USBGetSuppDeviceList(ctypes.byref(listing))
        _enumerated.set()
        found = []
        for k in range(min(listing.nCount, L.MAX_CAMERAS)):
            name = bytes(listing.szNames[k]).split(b"\0", 1)[0].decode("latin-1")
            if name:
                try:
                    found.append(CameraInfo(name, device_index(name)))
                except ValueError:
                    pass  # a name too long for its suffix: no index to reach it by
        return sorted(found, key=lambda c: c.index)

    return L.bounded(timeout, "listing the cameras", enumerate_cameras)


class Features:
    """A camera's features by name (letter case ignored, the names of the
    tavcam program: "gain", "shutter", "brightness", ...) or by identifier.

    ``features["gain"] = 16`` checks the value against the camera record's
    range (and 0..65535 for a register) before the call and raises
    TavcamError with the library's result when the call fails;
    ``features["gain"]`` reads a value (None when the camera keeps no such
    value). ``features.set(name, value, timeout=...)`` and
    ``features.get(name, timeout=...)`` take a timeout."""

    def __init__(self, camera):
        self._camera = camera

    def __iter__(self):
        return iter(FEATURES)

    def __len__(self):
        return len(FEATURES)

    def __contains__(self, key):
        try:
            feature_key(key)
            return True
        except KeyError:
            return False

    def limits(self, key):
        """(minimum, maximum) a value must lie within, or None."""
        name, ident, kind, inq = feature_key(key)
        if name in FIXED_RANGES:
            return FIXED_RANGES[name]
        if inq is not None:
            limits = self._camera.record.features[name]
            if limits.present:
                return (limits.minimum, limits.maximum)
        return (0, REGISTER_MAX)

    def __getitem__(self, key):
        return self.get(key)

    def __setitem__(self, key, value):
        self.set(key, value)

    def get(self, key, timeout=10.0):
        name, ident, kind, _ = feature_key(key)
        return self._camera._get_feature(ident, kind, timeout)

    def set(self, key, value, timeout=10.0):
        name, ident, kind, _ = feature_key(key)
        if kind == "read":
            raise TavcamError(f"{name} can only be read")
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"a feature value is an int, not {type(value).__name__}")
        low, high = self.limits(key)
        if not low <= value <= high:
            raise ValueError(f"{name or hex(ident)} = {value} is outside {low}..{high}")
        self._camera._set_feature(ident, kind, value, timeout)

    def items(self, timeout=10.0):
        """(name, value) of every feature the camera keeps a value for."""
        return [(n, self.get(n, timeout)) for n in FEATURES]


class Camera:
    """One camera, by name ("LineScan-0") or by a CameraInfo of ``cameras()``.

    A context manager: leaving the ``with`` block stops its streams. Call
    ``init()`` before anything else: it reads the camera's record and presets
    into this process and applies the saved preset. Every call that talks to
    the camera takes a ``timeout`` in seconds (None: as long as the library
    takes, which bounds each request to a camera)."""

    def __init__(self, name, timeout=60.0):
        self.name = name.name if isinstance(name, CameraInfo) else str(name)
        self.index = device_index(self.name)
        self._name_bytes = L.encode_name(self.name)
        self._lock = threading.Lock()  # one library call on this camera at a time
        self.features = Features(self)
        if not _enumerated.is_set():
            cameras(timeout)  # the library finds a camera's device through the list

    def __repr__(self):
        return f"Camera({self.name!r})"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        """Stops this camera's stream or capture, if one runs."""
        with _claims_lock:
            session = _claims.get(self.index)
        if session is not None and session.camera is self:
            session.stop()

    # ---- calls -------------------------------------------------------------

    def _call(self, timeout, what, function, *args):
        """A library call on this camera, at most ``timeout`` seconds; the
        camera's calls run one at a time."""
        if not self._lock.acquire(timeout=-1 if timeout is None else timeout):
            raise TavcamTimeout(f"{what}: {self.name} is still busy with an earlier call")

        def run():
            try:
                return function(self._name_bytes, *args)
            finally:
                self._lock.release()

        return L.bounded(timeout, f"{what} on {self.name}", run)

    def init(self, timeout=60.0):
        """Initialises the camera into its saved preset (USBInitDevice)."""
        result = self._call(timeout, "initialising", L.USBInitDevice)
        L.check("USBInitDevice", result, ok=L.INIT_OK, what=f"initialising {self.name}")
        _initialised.add(self.index)
        return self

    @property
    def initialised(self):
        return self.index in _initialised

    def _require_init(self):
        if self.index not in _initialised:
            raise TavcamError(f"{self.name} is not initialised in this process: call init() "
                              "first")

    @property
    def record(self):
        """The camera record (Record): name, model, formats with sizes and
        codes, features with presence and limits, presets."""
        self._require_init()
        c_record = L.CameraRecord()
        L.check("USBReadDeviceParams",
                L.USBReadDeviceParams(self._name_bytes, ctypes.byref(c_record)))
        return record_from(c_record)

    def _current_format(self):
        return self.record.format

    @property
    def format(self):
        """The current format (Format, with the scan area in force); assign a
        format index to switch (``set_format`` takes a timeout)."""
        return self._current_format()

    @format.setter
    def format(self, index):
        self.set_format(index)

    def set_format(self, index, timeout=30.0):
        self._require_init()
        self._require_idle()
        result = self._call(timeout, "switching the format", L.USBSetFormat, int(index))
        L.check("USBSetFormat", result, what=f"switching {self.name} to format {index}")

    @property
    def scan_area(self):
        """(left, top, width, height) of the scan area in force; assign such a
        tuple to choose one (``set_scan_area`` takes a timeout)."""
        f = self._current_format()
        return (f.left, f.top, f.width, f.height)

    @scan_area.setter
    def scan_area(self, area):
        self.set_scan_area(*area)

    def set_scan_area(self, left, top, width, height, timeout=30.0):
        self._require_init()
        self._require_idle()
        values = [left, top, width, height]
        if any(isinstance(v, bool) or not isinstance(v, int) or not 0 <= v <= 0xFFFF
               for v in values):
            raise ValueError(f"a scan area is four whole numbers 0..65535, not {values}")
        result = self._call(timeout, "setting the scan area", L.USBSetScanArea, *values)
        L.check("USBSetScanArea", result, what=f"scan area {tuple(values)} of {self.name}")

    def save_preset(self, preset, timeout=60.0):
        """Saves the settings in force as preset 0..3 in the camera's flash."""
        self._require_init()
        self._check_preset(preset)
        result = self._call(timeout, "saving a preset", L.USBSaveParams, preset)
        L.check("USBSaveParams", result, what=f"saving preset {preset} of {self.name}")

    def load_preset(self, preset, timeout=60.0):
        """Loads preset 0..3 from the camera's flash and applies it."""
        self._require_init()
        self._check_preset(preset)
        result = self._call(timeout, "loading a preset", L.USBLoadParams, preset)
        L.check("USBLoadParams", result, what=f"loading preset {preset} of {self.name}")

    def _check_preset(self, preset):
        if isinstance(preset, bool) or not isinstance(preset, int) or not 0 <= preset <= 3:
            raise ValueError(f"a preset is 0..3, not {preset!r}")

    def _require_idle(self):
        with _claims_lock:
            if self.index in _claims:
                raise TavcamError(f"{self.name} is streaming or capturing")

    def _get_feature(self, ident, kind, timeout):
        self._require_init()
        value = ctypes.c_uint32(0xFFFFFFFF)  # left as it is when the camera keeps no such value
        function = L.USBGetOnOffFeature if kind == "onoff" else L.USBGetCameraFeature
        result = self._call(timeout, "reading a feature", function, ident, ctypes.byref(value))
        L.check(function.__name__, result, what=f"reading feature {ident:#x} of {self.name}")
        return None if value.value == 0xFFFFFFFF else value.value

    def _feature_value(self, ident):
        value = ctypes.c_uint32(0xFFFFFFFF)
        if not L.USBGetCameraFeature(self._name_bytes, ident, ctypes.byref(value)):
            return None
        return None if value.value == 0xFFFFFFFF else value.value

    def _set_feature(self, ident, kind, value, timeout):
        self._require_init()
        function = L.USBSetOnOffFeature if kind == "onoff" else L.USBSetCameraFeature
        result = self._call(timeout, "setting a feature", function, ident, value)
        L.check(function.__name__, result, what=f"setting feature {ident:#x} of {self.name} "
                f"to {value}")

    # ---- pictures ----------------------------------------------------------

    def capture(self, n=1, timeout=10.0, colour_table=None):
        """Takes ``n`` pictures from consecutive frames and returns them as a
        list of NumPy arrays: H x W x 3 ``uint8`` in blue-green-red order, or
        H x W for 8-bit pictures, each a top-down view of the library's
        bottom-up picture.

        The whole capture takes at most ``timeout`` seconds: it runs as a
        short live stream in callback mode, which USBLiveVideoStop can end at
        any moment, even while the camera waits for a trigger (the library's
        single-frame capture waits for the camera as long as the camera takes,
        and nothing outside it can end it). TavcamTimeout when the pictures
        don't come in time; CameraGone when the camera goes away.
        ``colour_table`` (3 x 2^24 bytes) is used when the preset's saturation
        coefficient isn't 100; by default a table that changes no colour."""
        if isinstance(n, bool) or not isinstance(n, int) or n < 1:
            raise ValueError("n is a number of pictures, at least 1")
        self._require_init()
        return capture(self, n, timeout, colour_table)

    def stream(self, mode="callback", buffers=8, timeout=DEFAULT_FRAME_TIMEOUT, start_timeout=30.0,
               copy_raw=False, colour_table=None):
        """A live stream (Stream) to iterate in a ``with`` block::

            with camera.stream(buffers=8) as s:
                for frame in s:
                    ...

        ``mode``: "callback" (the library calls the package on its reader
        thread, which notes each frame and the time it came) or "event" (the
        reader sets an event and runs no Python at all; the iterator finds
        each frame in the ring from its number, and a frame's timestamp is
        the time the iterator took it). ``buffers``: the ring of direct
        buffers (2..32) that the raw frames are read into; the consumer may
        fall up to ``buffers - 1`` frames behind before frames are dropped.
        ``timeout``: the longest wait for one frame; ``start_timeout`` for
        the start."""
        self._require_init()
        return Stream(self, mode, buffers, timeout, start_timeout, copy_raw, colour_table)

    def statistics(self):
        """What the camera's live-video reader did since its last start."""
        from ._live import read_statistics

        return read_statistics(self._name_bytes)
