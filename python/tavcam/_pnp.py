"""Plug-and-play: a function called when a camera arrives or goes away.

The library calls the process's one registered function on its notification
thread; the package's function there only queues the notice, and a thread of
the package's own calls the Python functions, so a slow function never holds
the library's thread. The notice does not say which camera came or went:
``tavcam.cameras()`` tells which are there now.
"""

import atexit
import queue
import sys
import threading
import traceback

from . import _library as L

_lock = threading.Lock()
_handlers = []
_notices = queue.SimpleQueue()
_registered = False
_dispatcher = None


def _notice(code, zero1, zero2, user_value):  # on the library's notification thread
    _notices.put(True)


_library_function = L.PNPFunction(_notice)


def _dispatch():
    while True:
        if _notices.get() is None:
            return
        with _lock:
            handlers = list(_handlers)
        for fn in handlers:
            try:
                fn()
            except Exception:
                print("tavcam: a camera-change function raised:", file=sys.stderr)
                traceback.print_exc()


class Subscription:
    """Returned by on_camera_change; ``cancel()`` (or leaving its ``with``
    block) stops the calls to the function."""

    def __init__(self, fn):
        self.fn = fn

    def cancel(self):
        with _lock:
            if self.fn in _handlers:
                _handlers.remove(self.fn)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cancel()
        return False


def on_camera_change(fn, timeout=15.0):
    """Calls ``fn()`` (on a thread of the package) each time a camera arrives
    or goes away, until the returned Subscription is cancelled.

    The first call registers the package with the library
    (USBRegisterPNPFunction, which waits for the library's device monitor,
    at most 10 s); TavcamError when that fails, TavcamTimeout when it takes
    longer than ``timeout`` seconds."""
    global _registered, _dispatcher
    if not callable(fn):
        raise TypeError("on_camera_change takes a function")
    with _lock:
        if not _registered:
            result = L.bounded(timeout, "registering for camera changes",
                               L.USBRegisterPNPFunction, _library_function, 0)
            L.check("USBRegisterPNPFunction", result, what="registering for camera changes")
            _registered = True
            _dispatcher = threading.Thread(target=_dispatch, name="tavcam: camera changes",
                                           daemon=True)
            _dispatcher.start()
        _handlers.append(fn)
    return Subscription(fn)


def _stop():
    """At the interpreter's exit: the library's notification thread must not
    call into an interpreter that is going away."""
    if _registered:
        L.PNPFunctionThreadStop()
        _notices.put(None)


atexit.register(_stop)
