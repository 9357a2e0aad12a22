"""Pictures: what capture() and a stream's frames hold equals the frames the
simulator sent, regenerated from its rule, through the reference conversion
- Bayer colour, 8-bit copy, 12-bit samples to 8 bits - for the whole image
and for a scan area, plain and through a colour table; and the raw frames a
stream shows are the transfers as they came."""

import numpy as np
import pytest

import reference as ref
import tavcam

CAMERAS = ["long:ColourCam:format=1,fps=50", "short:MonoCam:format=1,mono,fps=50",
           "twobyte:DeepCam:format=12,fps=50"]
# name, socket, model, bytes per sample, conversion
KINDS = [
    ("ColourCam-0", "cam0.sock", 2, 1, ref.bayer),
    ("MonoCam-1", "cam1.sock", 1, 1, ref.mono_copy),
    ("DeepCam-2", "cam2.sock", 5, 2, ref.mono16_shift),
]


@pytest.fixture(scope="module")
def opened(simulator):
    found = {c.name for c in tavcam.cameras()}
    assert found == {k[0] for k in KINDS}
    cams = {}
    for name, *_ in KINDS:
        cams[name] = tavcam.Camera(name).init()
    yield cams
    for cam in cams.values():
        cam.close()


def expected_picture(kind, number, width, height):
    name, socket, model, b, convert = kind
    seed = ref.name_seed(name.split("-")[0], socket)
    return convert(ref.image(seed, number, width, height, b))


@pytest.mark.parametrize("kind", KINDS, ids=[k[0] for k in KINDS])
def test_captured_pictures_are_the_first_frames_converted(opened, kind):
    cam = opened[kind[0]]
    f = cam.format
    pictures = cam.capture(3, timeout=10)
    assert len(pictures) == 3
    for number, picture in enumerate(pictures):
        assert picture.dtype == np.uint8
        np.testing.assert_array_equal(picture, expected_picture(kind, number, f.width, f.height),
                                      err_msg=f"picture {number}")
        # A top-down view of the library's bottom-up picture: no copy was made.
        assert picture.strides[0] < 0 and not picture.flags.owndata


def test_a_scan_area_gives_pictures_of_its_size(opened):
    kind = KINDS[0]
    cam = opened[kind[0]]
    cam.scan_area = (8, 4, 64, 32)
    try:
        assert cam.scan_area == (8, 4, 64, 32)
        # 64 x 32 frames come 33 to a transfer: the pictures are still consecutive frames.
        pictures = cam.capture(2)
        assert pictures[0].shape == (32, 64, 3)
        for number, picture in enumerate(pictures):
            np.testing.assert_array_equal(picture, expected_picture(kind, number, 64, 32))
    finally:
        cam.scan_area = (0, 0, 320, 240)


def test_a_colour_table_is_handed_over_when_the_coefficient_is_not_100(opened):
    kind = KINDS[0]
    cam = opened[kind[0]]
    cam.features["saturation"] = 50
    try:
        # The identity table reproduces the plain reconstruction ...
        picture = cam.capture(1)[0]
        np.testing.assert_array_equal(picture, expected_picture(kind, 0, 320, 240))
        # ... and a table of the caller's is the one the library looks colours up in.
        inverse = 255 - tavcam.identity_colour_table()
        picture = cam.capture(1, colour_table=inverse)[0]
        np.testing.assert_array_equal(picture, 255 - expected_picture(kind, 0, 320, 240))
    finally:
        cam.features["saturation"] = 100


@pytest.mark.parametrize("mode", ["callback", "event"])
@pytest.mark.parametrize("kind", KINDS, ids=[k[0] for k in KINDS])
def test_stream_frames_carry_their_picture_and_raw_frame(opened, kind, mode):
    name, socket, model, b, convert = kind
    cam = opened[name]
    f = cam.format
    seed = ref.name_seed(name.split("-")[0], socket)
    pictures = raws = 0
    with cam.stream(mode=mode, buffers=8, timeout=5) as s:
        for frame in s:
            raw = frame.raw.copy()
            if not frame.intact():  # the buffer was read into again meanwhile: a busy machine
                continue
            raws += 1
            sent = frame.number - 1  # the stream's frames are numbered from 0 by the camera
            if frame.picture is not None:
                pictures += 1
                np.testing.assert_array_equal(frame.picture, convert(ref.image(seed, sent, f.width,
                                                                               f.height, b)))
            expected = ref.raw_frame(seed, sent, f.width, f.height, b, model)
            # Once converted, the library clears two stretches of 2 x width
            # bytes: at the frame's start and at its start plus the image size.
            flat = expected.view(np.uint8).reshape(-1)
            stretch = 2 * f.width
            image_bytes = f.width * f.height * b
            flat[:stretch] = 0
            flat[image_bytes:image_bytes + stretch] = 0
            np.testing.assert_array_equal(raw, expected, err_msg=f"raw frame {frame.number}")
            # A consumer slower than the camera gets a picture whenever it has
            # caught up with the newest frame.
            if (pictures == 3 and raws >= 3) or frame.number >= 500:
                break
    assert pictures == 3 and raws >= 3


@pytest.mark.parametrize("mode", ["callback", "event"])
def test_frames_of_transfers_of_many_frames_are_found_in_the_ring(opened, mode):
    kind = KINDS[1]  # 64 x 32 frames of 8-bit samples: 33 frames a transfer
    name, socket, model, b, convert = kind
    cam = opened[name]
    seed = ref.name_seed(name.split("-")[0], socket)
    cam.scan_area = (8, 4, 64, 32)
    checked = set()
    try:
        with cam.stream(mode=mode, buffers=4, timeout=5) as s:
            for frame in s:
                raw = frame.raw.copy()
                if frame.intact():
                    expected = ref.raw_frame(seed, frame.number - 1, 64, 32, b, model)
                    # (the last two image lines are the stretch cleared after conversion)
                    np.testing.assert_array_equal(raw[2:32], expected[2:32],
                                                  err_msg=f"frame {frame.number}")
                    checked.add(frame.number)
                if frame.number >= 70:  # into the third transfer
                    break
    finally:
        cam.scan_area = (0, 0, 320, 240)
    # Frames from more than one transfer, where they lie at different offsets.
    assert len({(n - 1) // 33 for n in checked}) >= 2 and len({(n - 1) % 33 for n in checked}) >= 2
