"""Plug-and-play: the function given to on_camera_change is called when the
cameras go away and when they come back."""

import threading

import pytest

import tavcam

CAMERAS = ["long:PlugCam"]


def test_a_function_is_called_on_departure_and_arrival(simulator):
    assert [c.name for c in tavcam.cameras()] == ["PlugCam-0"]
    calls = []
    called = threading.Semaphore(0)

    def changed():
        calls.append(len(tavcam.cameras()))
        called.release()

    try:
        subscription = tavcam.on_camera_change(changed, timeout=20)
    except tavcam.TavcamError as error:
        pytest.skip(f"the library's plug-and-play registration failed ({error}): "
                    "USBRegisterPNPFunction is not available in this build")
    # The registration returns once the monitor knows the notification
    # thread, so a change at once is reported.
    with subscription:
        simulator.unplug()
        assert called.acquire(timeout=15), "no call when the camera went away"
        simulator.plug()
        assert called.acquire(timeout=15), "no call when the camera came back"
    assert calls == [0, 1]
    # Cancelled: no more calls.
    simulator.unplug()
    simulator.plug()
    assert not called.acquire(timeout=3)
