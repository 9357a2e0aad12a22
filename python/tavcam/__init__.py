"""tavcam: the tavcam camera library from Python.

Pure Python over ctypes; NumPy is its only dependency. A short tour::

    import tavcam

    print(tavcam.LIBRARY_PATH)              # the library this package loaded
    for info in tavcam.cameras():           # CameraInfo(name, index)
        print(info.name, info.index)

    with tavcam.Camera("LineScan-0") as cam:
        cam.init()                          # into the saved preset
        print(cam.record.formats)           # Format entries: sizes, codes, ...
        cam.features["gain"] = 16           # range-checked; TavcamError on failure
        cam.scan_area = (0, 0, 320, 240)
        picture = cam.capture()[0]          # H x W x 3 uint8, blue-green-red
        with cam.stream(buffers=8) as s:
            for frame in s:                 # frame.number, .timestamp, .dropped, .picture, .raw
                if frame.number == 100:
                    break

    tavcam.on_camera_change(lambda: print("cameras:", tavcam.cameras()))

Every call that can wait on a camera takes a ``timeout`` in seconds.
"""

from ._errors import CameraGone, TavcamError, TavcamTimeout
from ._library import LIBRARY_PATH, LIBRARY_SOURCE
from ._camera import Camera, CameraInfo, Features, cameras
from ._live import Statistics, identity_colour_table
from ._pnp import Subscription, on_camera_change
from ._records import FEATURES, FeatureLimits, Format, Record
from ._stream import Drops, Frame, Stream

__all__ = [
    "LIBRARY_PATH", "LIBRARY_SOURCE", "cameras", "Camera", "CameraInfo", "Features", "Record",
    "Format", "FeatureLimits", "FEATURES", "Stream", "Frame", "Drops", "Statistics",
    "on_camera_change", "Subscription", "TavcamError", "TavcamTimeout", "CameraGone",
    "identity_colour_table",
]
