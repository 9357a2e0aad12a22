"""Live video through the library's callback mode: the one session object
behind both Camera.stream() and Camera.capture().

A session owns everything the library keeps a pointer to while its reader
runs: the camera name, the picture, the colour table, the ring of direct
buffers, the word that receives each raw frame's address and the ctypes
callback. A reader that outlives USBLiveVideoStop's own bound (6 s) keeps
the session alive in ``_outliving`` until it has ended, so the library never
writes into freed memory.
"""

import atexit
import ctypes
import queue
import threading
import time
import weakref

import numpy as np

from . import _library as L
from ._errors import CameraGone, TavcamError, TavcamTimeout

# (bytes per streamed sample, bits per picture pixel, format code) of the
# formats whose frames the reader turns into pictures.
_CONVERTED = {(1, 24, 1), (1, 24, 10), (1, 24, 255), (1, 8, 1), (1, 8, 2), (2, 8, 12), (2, 8, 100),
              (2, 8, 110), (2, 8, 115)}

# Waits are cut into slices this long, so Ctrl-C is taken at once and a
# reader that ended by itself is noticed.
WAIT_SLICE = 0.05

_identity_table = None
_identity_lock = threading.Lock()


def identity_colour_table():
    """The 48 MiB colour table that maps every colour to itself: with it the
    reconstruction through the table gives the plain Bayer picture."""
    global _identity_table
    with _identity_lock:
        if _identity_table is None:
            i = np.arange(1 << 24, dtype=np.uint32)
            table = np.empty((1 << 24, 3), dtype=np.uint8)
            table[:, 0] = i >> 16
            table[:, 1] = i >> 8
            table[:, 2] = i
            _identity_table = table.reshape(-1)
        return _identity_table


class Geometry:
    """What a stream of the camera's current format delivers (the scan area
    in force, the raw frames and transfers, the picture)."""

    def __init__(self, fmt):
        if fmt is None or fmt.raw_bits not in (8, 16) or not fmt.width or not fmt.height:
            raise TavcamError("the camera has no usable current format")
        self.width, self.height = fmt.width, fmt.height
        self.bytes_per_sample = fmt.raw_bits // 8
        self.out_bits, self.code = fmt.out_bits, fmt.code
        # YUV 4:2:2 streams two bytes a pixel as a line of twice the width.
        self.stream_width = 2 * fmt.width if fmt.code == 10 else fmt.width
        self.line_bytes = self.stream_width * self.bytes_per_sample
        self.frame_bytes = self.line_bytes * (self.height + 4)
        # Small scan areas gather frames into transfers of more than 64 KiB.
        self.frames_per_transfer = 65536 // (self.width * self.height * self.bytes_per_sample) + 1
        self.transfer_bytes = self.frame_bytes * self.frames_per_transfer
        self.has_picture = (self.bytes_per_sample, self.out_bits, self.code) in _CONVERTED
        if self.out_bits == 24:
            self.picture_shape = (self.height, self.width, 3)
        else:
            self.picture_shape = (self.height, self.width)
        self.picture_bytes = int(np.prod(self.picture_shape))
        self.raw_dtype = np.uint8 if self.bytes_per_sample == 1 else np.dtype("<u2")


class Statistics(tuple):
    """What the camera's reader did since the stream started."""

    __slots__ = ()
    _fields = ("transfers", "frames", "dropped_size", "dropped_markers", "no_room", "restarts",
               "read_failures", "running")

    def __new__(cls, s):
        return tuple.__new__(cls, (s.nTransfers, s.nFramesDelivered, s.nDroppedSize,
                                   s.nDroppedMarkers, s.nNoRoom, s.nRestarts, s.nReadFailures,
                                   bool(s.bRunning)))

    def __getattr__(self, name):
        try:
            return self[self._fields.index(name)]
        except ValueError:
            raise AttributeError(name) from None

    def __repr__(self):
        return "Statistics(" + ", ".join(f"{k}={v}" for k, v in zip(self._fields, self)) + ")"


def read_statistics(name_bytes):
    s = L.LiveVideoStatistics()
    L.check("USBGetLiveVideoStatistics", L.USBGetLiveVideoStatistics(name_bytes, ctypes.byref(s)))
    return Statistics(s)


class _ReaderState:
    """The interpreter's state for the library's reader thread, kept from the
    first callback until the reader has ended.

    ctypes runs a callback on a thread the interpreter doesn't know by making
    a thread state for the call and deleting it afterwards, on every frame.
    Taken once more on the reader thread (inside the first callback), the
    state outlives each call, and later callbacks only take the
    interpreter's lock. Once the reader thread has ended, the state
    is cleared and deleted from here."""

    _api = ctypes.pythonapi
    _api.PyGILState_Ensure.restype = ctypes.c_int
    _api.PyThreadState_Get.restype = ctypes.c_void_p
    _api.PyThreadState_Clear.argtypes = [ctypes.c_void_p]
    _api.PyThreadState_Delete.argtypes = [ctypes.c_void_p]

    def __init__(self):
        self._api.PyGILState_Ensure()  # on the reader thread: its state now stays
        self.state = self._api.PyThreadState_Get()

    def free(self):
        """Only once the reader thread has ended."""
        if self.state:
            self._api.PyThreadState_Clear(self.state)
            self._api.PyThreadState_Delete(self.state)
            self.state = None


_running = weakref.WeakSet()  # sessions whose reader may run
_outliving = []  # sessions whose reader outlived its stop
_claims = {}  # device index -> the session streaming that camera in this process
_claims_lock = threading.Lock()


class Session:
    """One run of the camera's reader, in callback or event mode.

    Callback mode: ``make_on_frame(session)`` gives the function that runs
    on the reader thread after each
    delivered frame (the picture is complete in ``picture`` and the raw
    frame's second line is at ``raw_word``); it must be quick: the reader
    reads the next transfer only when it returns. To wake a thread in
    ``wait`` it puts a token in ``bell`` when ``waiting[0]`` is set. Event
    mode (``make_on_frame`` None): the reader sets an event after each frame and
    runs no Python at all; ``wait`` sleeps on that event."""

    def __init__(self, camera, geometry, buffers, make_on_frame, colour_table=None):
        self.camera = camera
        self.name = camera._name_bytes
        self.geometry = g = geometry
        if not 0 <= buffers <= L.MAX_DIRECT_BUFFERS:
            raise ValueError(f"buffers must be 0..{L.MAX_DIRECT_BUFFERS}")
        # The picture: room for any conversion of the format (so no frame is
        # refused for room), of which the format's picture is the start.
        self.picture_memory = np.zeros(3 * g.height * g.line_bytes, dtype=np.uint8)
        self.picture = self.picture_memory[:g.picture_bytes].reshape(g.picture_shape)
        self.picture_address = self.picture_memory.ctypes.data
        sat = camera._feature_value(0x814)
        if sat is not None and sat != 100:
            table = identity_colour_table() if colour_table is None else colour_table
            table = np.ascontiguousarray(table, dtype=np.uint8).reshape(-1)
            if table.size < L.COLOUR_TABLE_BYTES:
                raise ValueError("a colour table has 3 x 2^24 bytes")
        else:
            table = np.zeros(3, dtype=np.uint8)  # never read with the coefficient at 100
        self.colour_table = table
        # The ring of direct buffers: each transfer is read straight into the
        # next one, and the raw frames are seen there without a copy.
        self.ring = [np.zeros(g.transfer_bytes, dtype=np.uint8) for _ in range(buffers)]
        self.ring_bases = [b.ctypes.data for b in self.ring]
        self.ex = L.LiveVideoParamEx()
        self.ex.nBuffers = buffers
        for k, address in enumerate(self.ring_bases):
            self.ex.pDirectBuffer[k] = address
        self.raw_word = ctypes.c_void_p(0)
        self.request = L.LiveVideoRequest()
        self.request.pImage = self.picture_address
        self.request.pColourTable = self.colour_table.ctypes.data
        self.request.hFrameEvent = None
        if buffers:
            self.request.pLiveVideoParamEx = ctypes.pointer(self.ex)
        self.request.ppRawFrame = ctypes.pointer(self.raw_word)
        # A thread in wait() sets waiting[0] and sleeps on the bell; on_frame
        # clears the flag and rings once. A token left over from an earlier
        # wait only makes a wait look once more.
        self.bell = queue.SimpleQueue()
        self.waiting = [False]
        self._callback = self._reader_entry(make_on_frame(self)) if make_on_frame else None
        self.callback = L.LiveVideoCallback(self._callback) if make_on_frame else None
        self.reader_state = None
        self.event = None
        if make_on_frame is None:
            self.event = L.CreateEventA(None, 0, 0, None)  # auto-reset, not set
            if not self.event:
                raise TavcamError("no event could be made for live video", "CreateEventA", 0)
            self.request.hFrameEvent = self.event
        self.started = False
        self.stopped = False
        self.abandoned = False
        self._start_lock = threading.Lock()
        self._start_result = None
        self.index = camera.index

    def _reader_entry(self, on_frame):
        """The function the reader thread calls for every notice.

        The reader runs it with cold caches (it has just read and converted a
        frame), so every object it touches costs: it is one closure over
        local cells, and reads the notice's code through a ctypes integer
        made once for the address the library passes (the same each time;
        made anew should it move)."""
        frame_code, session = L.LIVE_CB_FRAME, self
        code_cell = [0, None]  # the code's address, a c_uint32 over it

        def entry(name, code, value, zero, context):
            if code != code_cell[0]:
                if session.reader_state is None:
                    session.reader_state = _ReaderState()
                code_cell[0], code_cell[1] = code, ctypes.c_uint32.from_address(code)
            if code_cell[1].value == frame_code:
                on_frame()
            # A frame that found no room is counted by the library itself
            # (Statistics.no_room): nothing to do here.

        return entry

    def start(self, timeout):
        with _claims_lock:
            if self.index in _claims:
                raise TavcamError(f"{self.camera.name} is already streaming or capturing in "
                                  "this process")
            _claims[self.index] = self
        try:
            result = L.bounded(timeout, f"starting live video on {self.camera.name}",
                               self._start_call)
        except TavcamTimeout:
            with self._start_lock:
                self.abandoned = True  # the worker undoes the start when it returns
                finished = self._start_result is not None
                if not finished:
                    _outliving.append(self)  # the library may point at it meanwhile
            if finished:  # it returned just after the timeout
                self._undo_start(self._start_result)
            raise
        except BaseException:
            self._release_claim()
            self._forget_reader()
            raise
        if result != L.RESULT_OK:
            self._release_claim()
            self._forget_reader()
            L.check("USBVideoOnCallbackStart", result, what=f"starting live video on "
                    f"{self.camera.name}")
        # 1 also means the camera was held already (by a capture or reader
        # this package doesn't know of): then no reader of ours runs.
        if not self.running():
            self.stop()
            raise TavcamError(f"live video did not run on {self.camera.name}: the camera is held "
                              "by a capture or stream of another caller, or its reader ended at "
                              "once", "USBVideoOnCallbackStart", 1)

    def _start_call(self):
        if self.event:
            result = L.USBLiveVideoStartEx(self.name, ctypes.byref(self.request))
        else:
            result = L.USBVideoOnCallbackStart(self.name, ctypes.byref(self.request),
                                               self.callback, 0)
        with self._start_lock:
            self._start_result = result
            if result == L.RESULT_OK:
                self.started = True
                _running.add(self)
            abandoned = self.abandoned
        if abandoned:  # nobody waits for this start any more
            if self in _outliving:
                _outliving.remove(self)  # this thread holds the session meanwhile
            self._undo_start(result)
        return result

    def _undo_start(self, result):
        if result == L.RESULT_OK:
            self.stop()  # which keeps the session alive if its reader outlives the stop
        else:
            self._release_claim()
            self._forget_reader()

    def running(self):
        return read_statistics(self.name).running

    def stop(self):
        """Stops the reader (the library waits for it at most 6 s)."""
        if self.stopped:
            return
        self.stopped = True
        if self.started:
            L.USBLiveVideoStop(self.name)
            if self.running():
                # The reader still runs: everything it points at stays alive.
                _outliving.append(self)
                threading.Thread(target=self._wait_for_end, daemon=True,
                                 name=f"tavcam: waiting for {self.camera.name}'s reader").start()
                return
            _running.discard(self)
        self._forget_reader()
        self._release_claim()

    def _wait_for_end(self):
        while self.running():
            L.USBLiveVideoStop(self.name)
            time.sleep(0.5)
        _running.discard(self)
        self._forget_reader()
        self._release_claim()

    def _forget_reader(self):
        """Once the reader has ended: what it used goes."""
        if self.reader_state is not None:
            self.reader_state.free()
            self.reader_state = None
        if self.event:
            L.CloseHandle(self.event)
            self.event = None
        if self in _outliving:
            _outliving.remove(self)

    def _release_claim(self):
        with _claims_lock:
            if _claims.get(self.index) is self:
                del _claims[self.index]

    def wait(self, until, timeout, what):
        """Waits until ``until()`` is true, at most ``timeout`` seconds (None:
        without a limit), in short slices: CameraGone when the reader ends by
        itself first, TavcamTimeout when the time runs out."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while not until():
            if not self.running() and not until():
                raise CameraGone(f"{self.camera.name} went away: its live video ended by itself "
                                 f"({what})", "USBGetLiveVideoStatistics")
            left = WAIT_SLICE if deadline is None else min(WAIT_SLICE, deadline - time.monotonic())
            if left <= 0:
                raise TavcamTimeout(f"{what}: nothing within {timeout} s")
            if self.event:
                L.WaitForSingleObject(self.event, int(left * 1000) + 1)  # the lock is let go
                continue
            self.waiting[0] = True  # before the last look, so no ring is missed
            try:
                if until():
                    return
                self.bell.get(timeout=left)
            except queue.Empty:
                pass
            finally:
                self.waiting[0] = False


def stop_all():
    """Stops every reader the package started: run at the interpreter's exit,
    before it can no longer run the callbacks."""
    for session in list(_running):
        try:
            session.stop()
        except Exception:
            pass
    for session in list(_outliving):
        if session.started:
            L.USBLiveVideoStop(session.name)


atexit.register(stop_all)
