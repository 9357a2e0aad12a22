"""Camera control: the record as typed fields, features by name with their
range checks, a failing call as TavcamError with the library's result,
format, scan area and presets, and the timeouts of calls that talk to the
camera."""

import time

import pytest

import tavcam

CAMERAS = ["long:LineScan", "short:AreaCam", "busy:BusyCam:busy=1"]
LONG, SHORT, BUSY = "LineScan-0", "AreaCam-1", "BusyCam-2"


@pytest.fixture(scope="module")
def cams(simulator):
    assert [c.name for c in tavcam.cameras()] == [LONG, SHORT, BUSY]
    return {name: tavcam.Camera(name).init() for name in (LONG, SHORT)}


def test_the_record_as_typed_fields(cams):
    record = cams[LONG].record
    # The cached record's name carries the device index, as the list gives it.
    assert (record.name, record.model, record.presets) == (LONG, 2, (0, 1, 2, 3))
    assert [(f.code, f.raw_bits, f.out_bits, f.partial) for f in record.formats] == [
        (1, 8, 8, True), (1, 8, 24, False)]
    first = record.formats[0]
    assert (first.width, first.height, first.max_width, first.max_height, first.unit) == (
        320, 240, 320, 240, (4, 2))
    assert record.format == first and record.current_preset == 0
    assert record.features["gain"] == tavcam.FeatureLimits(True, 0, 63)
    assert record.features["shutter"] == tavcam.FeatureLimits(True, 1, 240)
    # The short-layout camera has no frame exposure or iris.
    assert not cams[SHORT].record.features["iris"].present
    assert len(record.raw) == 2016


@pytest.mark.parametrize("key, value", [
    ("Gain", 20), ("gain", 0), (0x820, 63), ("BRIGHTNESS", 200), ("shutter", 240),
    ("trigger", 1), ("trigger", 0), ("bits", 2), ("0x1E50", 7),
])
def test_features_set_and_read_back(cams, key, value):
    cam = cams[LONG]
    cam.features[key] = value
    assert cam.features[key] == value


@pytest.mark.parametrize("key, value, error", [
    ("gain", 64, ValueError),          # the record's range: 0..63
    ("shutter", 0, ValueError),        # 1..240
    ("bits", 4, ValueError),           # 0..3
    ("0x1E50", 0x10000, ValueError),   # registers hold 16 bits
    ("gain", -1, ValueError),
    ("gain", 1.5, TypeError),
    ("running", 1, tavcam.TavcamError),  # read only
])
def test_values_outside_their_range_are_refused_before_the_call(cams, key, value, error):
    cam = cams[LONG]
    cam.features["gain"] = 17
    with pytest.raises(error):
        cam.features[key] = value
    assert cam.features["gain"] == 17


def test_unknown_feature_names_are_refused():
    with pytest.raises(KeyError, match="no feature named"):
        tavcam.Camera(LONG).features["loudness"] = 1


def test_a_failing_call_raises_with_the_library_result(cams, simulator):
    # A camera that reports itself busy (asked once its record is known):
    # the library's own result, 3.
    busy_cam = tavcam.Camera(BUSY).init()
    with pytest.raises(tavcam.TavcamError) as busy:
        busy_cam.scan_area = (0, 0, 320, 240)
    assert (busy.value.function, busy.value.code) == ("USBSetScanArea", 3)
    assert "busy" in str(busy.value)
    # A camera that went away: the register write fails, result 0.
    cam = cams[LONG]
    simulator.unplug()
    try:
        with pytest.raises(tavcam.TavcamError) as failed:
            cam.features["gain"] = 12
    finally:
        simulator.plug()
    assert (failed.value.function, failed.value.code) == ("USBSetCameraFeature", 0)


def test_format_and_scan_area(cams):
    cam = cams[LONG]
    cam.scan_area = (16, 8, 128, 64)
    assert cam.scan_area == (16, 8, 128, 64)
    with pytest.raises(tavcam.TavcamError) as refused:
        cam.scan_area = (2, 0, 64, 64)  # left not a multiple of the 4-pixel unit
    assert (refused.value.function, refused.value.code) == ("USBSetScanArea", 0)
    assert cam.scan_area == (16, 8, 128, 64)
    cam.format = 1  # the fixed colour format
    assert (cam.format.index, cam.format.out_bits, cam.scan_area) == (1, 24, (0, 0, 320, 240))
    assert cam.capture()[0].shape == (240, 320, 3)
    cam.format = 0  # back: its last scan area returns with it
    assert cam.scan_area == (16, 8, 128, 64)
    with pytest.raises(tavcam.TavcamError):
        cam.format = 2  # the camera has two formats
    cam.scan_area = (0, 0, 320, 240)


def test_presets_are_saved_and_loaded(cams):
    cam = cams[SHORT]
    cam.features["gain"] = 33
    cam.save_preset(2)
    assert cam.record.current_preset == 2
    cam.features["gain"] = 5
    cam.load_preset(2)
    assert cam.features["gain"] == 33
    with pytest.raises(ValueError):
        cam.load_preset(4)


def test_a_call_that_outlives_its_timeout_raises_and_holds_the_camera_until_done(cams):
    cam = cams[SHORT]
    t0 = time.monotonic()
    with pytest.raises(tavcam.TavcamTimeout):
        cam.save_preset(1, timeout=0.05)  # a flash write takes about a second
    assert time.monotonic() - t0 < 0.5
    # The next call waits for the one still running, within its own timeout.
    with pytest.raises(tavcam.TavcamTimeout, match="still busy"):
        cam.features.get("gain", timeout=0.05)
    assert cam.features.get("gain", timeout=30) is not None
    assert cam.record.current_preset == 1
