"""Live streams: hundreds of frames with none lost, what a slow consumer
sees, the ends of a stream (break, Ctrl-C, a camera unplugged) and the
bounds on every wait (a frame that doesn't come, a capture that can't
finish)."""

import signal
import subprocess
import textwrap
import time

import numpy as np
import pytest

import reference as ref
import tavcam
from conftest import python_command

CAMERAS = ["long:FastCam:format=1,mono,fps=200", "long:SlowCam:format=1,mono,fps=1"]
FAST, SLOW = "FastCam-0", "SlowCam-1"


@pytest.fixture(scope="module")
def cams(simulator):
    assert [c.name for c in tavcam.cameras()] == [FAST, SLOW]
    opened = {name: tavcam.Camera(name).init() for name in (FAST, SLOW)}
    yield opened
    for cam in opened.values():
        cam.close()


def first_line(number, width=320, name="FastCam", socket="cam0.sock"):
    """Image line 0 of the camera's frame `number` (numbered from 0)."""
    return ref.image(ref.name_seed(name, socket), number, width, 1, 1)[0]


MODES = ["callback", "event"]


@pytest.mark.parametrize("mode", MODES)
def test_hundreds_of_frames_arrive_in_order_with_none_lost(cams, mode):
    numbers, checked = [], 0
    # A ring of 32 lets this thread fall 155 ms behind (a busy machine) and still see every frame.
    with cams[FAST].stream(mode=mode, buffers=32, timeout=5) as s:
        for frame in s:
            numbers.append(frame.number)
            line = frame.raw[2].copy()
            if frame.intact():  # the copy was taken before the buffer was read again
                # The camera's frame number-1 is the one shown: none was lost on the way.
                np.testing.assert_array_equal(line, first_line(frame.number - 1))
                checked += 1
            assert frame.dropped == (0, 0, 0, 0)
            if frame.number == 400:
                break
    statistics = s.statistics()
    assert numbers == list(range(1, 401))
    assert checked >= 390
    assert statistics.frames >= 400 and not statistics.running
    assert (statistics.dropped_size, statistics.dropped_markers, statistics.no_room) == (0, 0, 0)


@pytest.mark.parametrize("mode", MODES)
def test_a_slow_consumer_gets_later_frames_intact_and_the_skipped_counted(cams, mode):
    checked = 0
    with cams[FAST].stream(mode=mode, buffers=4, timeout=5) as s:
        previous, skipped_seen = 0, 0
        for frame in s:
            # Frames are handed out while still intact, whatever the
            # consumer's delay (unless this thread is held up right here).
            line = frame.raw[2].copy()
            if frame.intact():
                np.testing.assert_array_equal(line, first_line(frame.number - 1))
                checked += 1
            assert frame.number > previous
            skipped_seen += frame.number - previous - 1
            # Frames lost to the consumer's delay are exactly the ones counted.
            assert frame.dropped.skipped == skipped_seen
            if frame.picture is not None:
                np.testing.assert_array_equal(frame.picture[0], first_line(frame.number - 1))
            previous = frame.number
            time.sleep(0.03)  # six frames' time
            if frame.number > 60:
                break
    assert skipped_seen > 20 and checked >= 5


def test_break_stops_the_reader_and_the_camera_streams_again(cams):
    cam = cams[FAST]
    for mode in MODES:
        with cam.stream(mode=mode) as s:
            for frame in s:
                break
        assert not s.statistics().running
        with pytest.raises(StopIteration):
            next(s)


@pytest.mark.parametrize("mode", MODES)
def test_a_frame_that_does_not_come_ends_the_wait_at_its_timeout(cams, mode):
    cam = cams[SLOW]  # one frame a second
    with cam.stream(mode=mode, timeout=0.2) as s:
        t0 = time.monotonic()
        with pytest.raises(tavcam.TavcamTimeout):
            next(s)
        assert time.monotonic() - t0 < 0.9  # the frame would come after 1 s


def test_a_capture_that_cannot_finish_ends_at_its_timeout_and_frees_the_camera(cams):
    cam = cams[SLOW]
    t0 = time.monotonic()
    with pytest.raises(tavcam.TavcamTimeout, match="capturing"):
        cam.capture(5, timeout=1.5)
    assert time.monotonic() - t0 < 3.5  # the timeout, and the stop of a waiting read
    assert not cam.statistics().running
    assert cam.capture(1, timeout=10)[0].shape == (240, 320)


def test_ctrl_c_ends_the_stream_cleanly():
    script = textwrap.dedent(f"""
        import sys, tavcam
        tavcam.cameras()
        cam = tavcam.Camera({FAST!r}).init()
        try:
            with cam.stream() as s:
                for frame in s:
                    if frame.number == 1:
                        print("streaming", flush=True)
        except KeyboardInterrupt:
            print("interrupted; running:", cam.statistics().running, flush=True)
    """)
    command, env = python_command(script)
    child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    try:
        assert child.stdout.readline() == "streaming\n", child.stderr.read()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=15)
    finally:
        child.kill()
    assert child.returncode == 0, err
    assert out == "interrupted; running: False\n"


@pytest.mark.parametrize("mode", MODES)
def test_a_camera_unplugged_mid_stream_ends_the_iteration_saying_so(cams, simulator, mode):
    cam = cams[FAST]
    try:
        with pytest.raises(tavcam.CameraGone, match="went away"):
            with cam.stream(mode=mode, timeout=10) as s:
                for frame in s:
                    if frame.number == 20:
                        simulator.unplug()
    finally:
        simulator.plug()
    assert not cam.statistics().running


def test_a_start_that_outlives_its_timeout_is_undone_when_it_ends(cams):
    cam = cams[FAST]
    with pytest.raises(tavcam.TavcamTimeout):
        cam.stream(start_timeout=0.01).start()  # a start sends the camera window: ~0.5 s
    # Meanwhile the camera counts as taken; once the start has returned, the
    # package stops the reader it started, and the camera streams again.
    deadline = time.monotonic() + 10
    while True:
        try:
            with cam.stream() as s:
                assert next(s).number == 1
            break
        except tavcam.TavcamError as error:
            assert "already streaming" in str(error)
            assert time.monotonic() < deadline
            time.sleep(0.1)
    assert not cam.statistics().running
