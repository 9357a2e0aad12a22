"""The package's tests run against tavcam-camsim processes.

Each test session (each test file is a session of its own under ctest) gets
a private runtime directory (the library's shared block, events and window
registry) and a private device directory, both set before the library is
loaded: the library's device monitor, a process of its own started with the
library, watches the device directory it was started with. A module's
simulator serves there while the module runs. TAVCAM_TEST_BIN_DIR names the build's bin directory (ctest
sets it); the package itself comes from PYTHONPATH (the build's copy).
"""

import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import time

import pytest

# A sanitizer's runtime preloaded into the interpreter (the sanitizer builds'
# tests) is for this process only: the simulator and the library's monitor
# host carry their own.
PRELOAD = os.environ.pop("LD_PRELOAD", None)

_SESSION_DIR = tempfile.mkdtemp(prefix="tavcam-py-")
os.environ["TAVCAM_RUNTIME_DIR"] = os.path.join(_SESSION_DIR, "runtime")
DEVICE_DIR = os.path.join(_SESSION_DIR, "devices")
os.environ["TAVCAM_DEVICE_DIR"] = DEVICE_DIR
os.makedirs(os.environ["TAVCAM_DEVICE_DIR"], exist_ok=True)
os.environ.pop("TAVCAM_LIBRARY", None)

BIN_DIR = os.environ.get("TAVCAM_TEST_BIN_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "bin")


def _die_with_parent():
    """In the simulator's process before it starts: it ends when the test
    process does, however that ends (Linux)."""
    try:
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class Simulator:
    """A tavcam-camsim process serving cameras in a device directory of its
    own: ``cameras`` is a list of "KIND:NAME[:OPTIONS]"; camera k is
    camk.sock. ``unplug()`` and ``plug()`` take every camera away and back."""

    def __init__(self, cameras, directory):
        self.directory = directory
        self.specs = cameras
        os.makedirs(directory, exist_ok=True)
        args = [os.path.join(BIN_DIR, "tavcam-camsim"), "--dir", directory]
        for spec in cameras:
            args += ["--camera", spec]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, preexec_fn=_die_with_parent)
        for _ in cameras:
            line = self.process.stdout.readline()
            if not line.startswith("camera "):
                self.stop()
                raise RuntimeError(f"tavcam-camsim did not start: {line!r}")

    def use(self):
        """Makes the library look for cameras here."""
        os.environ["TAVCAM_DEVICE_DIR"] = self.directory

    def unplug(self):
        self.process.send_signal(signal.SIGUSR1)
        self._wait_for_sockets(False)

    def plug(self):
        self.process.send_signal(signal.SIGUSR2)
        self._wait_for_sockets(True)

    def _wait_for_sockets(self, present, limit=5.0):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            there = [os.path.exists(os.path.join(self.directory, f"cam{k}.sock"))
                     for k in range(len(self.specs))]
            if all(there) if present else not any(there):
                return
            time.sleep(0.01)
        raise RuntimeError("the simulator's sockets did not follow the signal")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture(scope="session")
def session_dir():
    return _SESSION_DIR


@pytest.fixture(scope="module")
def simulator(request, session_dir):
    """A simulator for the module: its cameras are the module's CAMERAS."""
    cameras = getattr(request.module, "CAMERAS")
    sim = Simulator(cameras, DEVICE_DIR)
    sim.use()
    yield sim
    sim.stop()


def python_command(code, env=None):
    """The command and environment that run code in a fresh interpreter (the
    one running the tests) with this session's environment (and the
    sanitizer runtime this one was started with, which it keeps from its own
    children in turn)."""
    full = dict(os.environ)
    full.update(env or {})
    if PRELOAD:
        full["LD_PRELOAD"] = PRELOAD
        code = "import os\nos.environ.pop('LD_PRELOAD', None)\n" + code
    return [sys.executable, "-c", code], full


def run_python(code, env=None, timeout=60):
    """Runs code as python_command does; returns the CompletedProcess."""
    command, full = python_command(code, env)
    return subprocess.run(command, env=full, capture_output=True, text=True, timeout=timeout)
