"""Live streams and captures of pictures.

A stream hands the library a ring of direct buffers (NumPy arrays): each
transfer from the camera is read straight into the next buffer, so every raw
frame can be seen without a copy. The library converts each frame into one
picture and then announces it on its reader thread. In callback mode the
package's callback only records the frame (its number, the time, where its
raw frame lies) in a bounded queue, and the iterating thread does everything
else; in event mode the library sets an event and the reader runs no Python
at all: the iterating thread counts the frames delivered and finds each one
in the ring from its number.

What a slow consumer sees: frames in the order they came, each with its raw
frame, as long as it keeps within the ring. The queue holds at most
``buffers - 1`` frames; when the consumer falls further behind, the oldest
frames are dropped (counted in ``Frame.dropped.skipped``), because the library is
about to read new transfers into their buffers. A frame's picture is copied
out of the library's picture when the consumer first asks for it, and only
if no later frame has been started by then; a consumer that is behind gets
``picture`` None for the frames it is late with, and the newest picture
whenever it catches up. The library itself never waits for the consumer.
"""

import collections
import ctypes
import itertools
import time

import numpy as np

from ._errors import TavcamError
from ._live import Geometry, Session, read_statistics

DEFAULT_FRAME_TIMEOUT = 5.0


class Drops(tuple):
    """Frames lost so far in a stream: transfers the reader dropped for a
    wrong size or wrong markers, frames it could not write (no room), and
    frames the package dropped because the consumer fell behind."""

    __slots__ = ()

    def __new__(cls, size, markers, no_room, skipped):
        return tuple.__new__(cls, (size, markers, no_room, skipped))

    size = property(lambda self: self[0])
    markers = property(lambda self: self[1])
    no_room = property(lambda self: self[2])
    skipped = property(lambda self: self[3])

    def __repr__(self):
        return (f"Drops(size={self[0]}, markers={self[1]}, no_room={self[2]}, "
                f"skipped={self[3]})")


class Frame:
    """One frame of a stream.

    ``number``: frames the stream delivered up to this one (1 for the first);
    ``timestamp``: ``time.monotonic_ns()`` when the library announced it
    (event mode: when the iterator took it);
    ``dropped``: the stream's ``Drops`` so far; ``picture``: the converted
    picture as a top-down NumPy view (H x W x 3 blue-green-red, or H x W) of
    a copy taken when first asked for, None when a later frame had already
    begun by then or the format has no picture;
    ``raw``: the raw frame ((lines + 4) x width samples: two header lines,
    the image, two trailer lines) in the stream's ring, without a copy,
    None without direct buffers. The library clears the first two lines' worth
    of bytes at the frame's start and at the start plus the image size once
    it has converted the frame, so a buffer read again can't pass for it.
    The ring is reused: ``intact()`` tells whether the raw frame still holds
    this frame (copy it with ``raw.copy()`` to keep it)."""

    __slots__ = ("number", "timestamp", "dropped", "raw", "_stream", "_address", "_picture")

    _NOT_TAKEN = object()

    def __init__(self, stream, number, timestamp, dropped, address, raw):
        self._stream = stream
        self.number = number
        self.timestamp = timestamp
        self.dropped = dropped
        self.raw = raw
        self._address = address
        self._picture = self._NOT_TAKEN

    @property
    def picture(self):
        """The picture, copied out of the library's picture the first time it
        is asked for (later asks give the same array), or None when the
        library had begun a later frame by then."""
        if self._picture is self._NOT_TAKEN:
            self._picture = self._stream._picture_of(self.number, self._address)
        return self._picture

    def intact(self):
        """True while the library has not begun to read a new transfer into
        the buffer that holds this raw frame."""
        return self.raw is not None and self._stream._count() - self.number < self._stream._span

    def __repr__(self):
        return f"Frame(number={self.number}, timestamp={self.timestamp}, dropped={self.dropped})"


class Stream:
    """Live video of one camera, as an iterator of Frame objects.

    Made by ``Camera.stream()``; use it as a context manager (the stream
    starts on entry and stops on exit: after ``break``, an exception, Ctrl-C).
    Each step waits at most ``timeout`` seconds for a frame
    (TavcamTimeout), and ends with CameraGone when the camera goes away."""

    def __init__(self, camera, mode="callback", buffers=8, timeout=DEFAULT_FRAME_TIMEOUT,
                 start_timeout=30.0, copy_raw=False, colour_table=None):
        if mode not in ("callback", "event"):
            raise ValueError("mode is 'callback' or 'event' (window mode needs a message loop, "
                             "which a Python program doesn't run)")
        self.mode = mode
        if not 2 <= buffers <= 32:
            raise ValueError("buffers must be 2..32: the ring holds the frames the consumer "
                             "has not taken yet")
        self.camera = camera
        self.timeout = timeout
        self.start_timeout = start_timeout
        self.copy_raw = copy_raw
        self.buffers = buffers
        self.geometry = g = Geometry(camera._current_format())
        self._queue = collections.deque(maxlen=buffers - 1)
        self._span = buffers - 1  # frames after which a raw frame's buffer is read again
        self._latest = [0]  # callback mode: the number of the last frame delivered
        self._skipped = 0
        self._ended = False
        self._taken = 0  # the number of the last frame handed out
        self._session = Session(camera, g, buffers,
                                self._recorder if mode == "callback" else None, colour_table)
        self._raw_frames = [np.frombuffer(b, dtype=g.raw_dtype) for b in self._session.ring]
        # Event mode finds a frame's raw frame from its number: the ring moves
        # on once per transfer, and every frame of a good transfer is
        # delivered - except in sequential colour, which delivers the red part.
        self._numbered_ring = g.code != 255

    def _recorder(self, session):
        """What runs on the library's reader thread for every delivered frame:
        its number, the time and its raw frame go into the queue (whose length
        drops the oldest), and a waiting consumer is woken. Only local cells
        and built-in calls, as it runs with the reader's cold caches."""
        frames, latest, counter = self._queue, self._latest, itertools.count(1)
        raw_word, waiting, ring = session.raw_word, session.waiting, session.bell.put

        def on_frame(_now=time.monotonic_ns, _next=next):
            n = _next(counter)
            latest[0] = n
            frames.append((n, _now(), raw_word.value))
            if waiting[0]:
                waiting[0] = False
                ring(None)

        return on_frame

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        self._session.start(self.start_timeout)
        return self

    def stop(self):
        """Stops the stream (at once when it was stopped already)."""
        self._ended = True
        self._session.stop()

    close = stop

    def __iter__(self):
        return self

    def __next__(self):
        return self.next()

    def next(self, timeout=None):
        """The next frame, waiting at most ``timeout`` seconds (default: the
        stream's). StopIteration once the stream was stopped."""
        if self._ended:
            raise StopIteration
        if self.mode == "event":
            return self._next_by_event(self.timeout if timeout is None else timeout)
        if not self._queue:
            self._session.wait(lambda: bool(self._queue),
                               self.timeout if timeout is None else timeout,
                               f"waiting for a frame of {self.camera.name}")
        number, stamp, address = self._queue.popleft()
        # Frames the queue's length dropped before this one: the consumer fell behind.
        self._skipped += number - self._taken - 1
        self._taken = number
        return Frame(self, number, stamp, self._drops(), address, self._raw_of(address))

    def _drops(self):
        """The stream's Drops so far: the library's counts and the skipped."""
        s = read_statistics(self._session.name)
        return Drops(s.dropped_size, s.dropped_markers, s.no_room, self._skipped)

    def _count(self):
        """Frames the library delivered so far."""
        if self.mode == "event":
            self._latest[0] = read_statistics(self._session.name).frames
        return self._latest[0]

    def _next_by_event(self, timeout):
        """Event mode: the frame after the last one handed out, found in the
        ring from its number; when the consumer is further behind than the
        ring allows, the oldest frame still safe in it (the rest counted as
        skipped). Its timestamp is the time this thread took it."""
        if self._count() <= self._taken:
            self._session.wait(lambda: self._count() > self._taken, timeout,
                               f"waiting for a frame of {self.camera.name}")
        latest, g = self._latest[0], self.geometry
        number = max(self._taken + 1, latest - self._span + 1)
        self._skipped += number - self._taken - 1
        self._taken = number
        address = None
        if self._numbered_ring:
            transfer, within = divmod(number - 1, g.frames_per_transfer)
            address = (self._session.ring_bases[transfer % self.buffers] +
                       within * g.frame_bytes + g.line_bytes)
        elif number == latest:
            address = self._session.raw_word.value
        return Frame(self, number, time.monotonic_ns(), self._drops(), address,
                     self._raw_of(address) if address else None)

    def _picture_of(self, number, address):
        """A copy of the library's picture when it still shows frame number:
        the reader names the next raw frame before it converts it, so the
        same name and count before and after the copy mean no later frame
        touched the picture meanwhile."""
        g, s = self.geometry, self._session
        if not g.has_picture or self._count() != number or s.raw_word.value != address:
            return None
        picture = s.picture.copy()
        if self._count() != number or s.raw_word.value != address:
            return None
        return picture[::-1]

    def _raw_of(self, address):
        g, s = self.geometry, self._session
        if not address:
            return None
        start = address - g.line_bytes  # the library names each frame's second line
        for k, base in enumerate(s.ring_bases):
            offset = start - base
            if 0 <= offset <= g.transfer_bytes - g.frame_bytes:
                item = offset // g.bytes_per_sample
                count = g.frame_bytes // g.bytes_per_sample
                raw = self._raw_frames[k][item:item + count].reshape(g.height + 4, g.stream_width)
                return raw.copy() if self.copy_raw else raw
        return None

    def statistics(self):
        """What the library's reader did since the start (Statistics)."""
        return read_statistics(self._session.name)

    @property
    def delivered(self):
        """Frames the library delivered so far."""
        return self._latest[0]

    @property
    def skipped(self):
        """Frames dropped because the consumer fell behind, counted when the
        consumer takes the frame after them."""
        return self._skipped


def capture(camera, count, timeout, colour_table=None):
    """``count`` pictures, taken from consecutive frames of a short live
    stream (see Camera.capture)."""
    g = Geometry(camera._current_format())
    if not g.has_picture:
        raise TavcamError(f"format {g.code} ({g.bytes_per_sample * 8}-bit samples, "
                          f"{g.out_bits}-bit pictures) delivers no picture")
    pictures = [np.empty(g.picture_shape, dtype=np.uint8) for _ in range(count)]
    addresses = [p.ctypes.data for p in pictures]
    taken = [0]

    def make_on_frame(session):
        def on_frame(memmove=ctypes.memmove, source=session.picture_address,
                     size=g.picture_bytes, ring=session.bell.put):
            k = taken[0]
            if k < count:
                memmove(addresses[k], source, size)
                taken[0] = k + 1
                if k + 1 == count:
                    ring(None)

        return on_frame

    started = time.monotonic()
    session = Session(camera, g, 0, make_on_frame, colour_table)
    session.start(timeout)
    try:
        left = None if timeout is None else max(0.0, timeout - (time.monotonic() - started))
        session.wait(lambda: taken[0] >= count, left,
                     f"capturing {count} picture(s) from {camera.name} ({taken[0]} taken)")
    finally:
        session.stop()
    return [p[::-1] for p in pictures]
