"""Loading the library, and a machine with no camera: the package imports,
says which library it loaded, and lists nothing without error."""

import os

import pytest

from conftest import run_python

import tavcam


def test_names_the_library_it_loaded():
    assert os.path.isfile(tavcam.LIBRARY_PATH)
    assert os.path.basename(tavcam.LIBRARY_PATH).startswith("libtavcam.so")
    assert tavcam.LIBRARY_SOURCE == "built or installed with the package"


def test_lists_nothing_without_a_camera(tmp_path):
    os.environ["TAVCAM_DEVICE_DIR"] = str(tmp_path)
    assert tavcam.cameras() == []
    listed = run_python("import tavcam.__main__ as m; m.main()")
    assert listed.returncode == 0, listed.stderr
    assert "library: " + tavcam.LIBRARY_PATH in listed.stdout
    assert listed.stdout.rstrip().endswith("no camera")
    # The library's own lines about the devices it opens are kept off stdout.
    assert "Attempting" not in listed.stdout


@pytest.mark.parametrize("setting, expected", [
    ("{lib}", "(TAVCAM_LIBRARY)"),
    ("/nowhere/libtavcam.so", "ImportError"),  # an explicit choice is not replaced by another
])
def test_tavcam_library_variable_decides(setting, expected):
    loaded = run_python("import tavcam; print(tavcam.LIBRARY_PATH, f'({tavcam.LIBRARY_SOURCE})')",
                        env={"TAVCAM_LIBRARY": setting.format(lib=tavcam.LIBRARY_PATH)})
    assert expected in loaded.stdout + loaded.stderr
    if expected == "ImportError":
        assert "/nowhere/libtavcam.so (TAVCAM_LIBRARY): no such file" in loaded.stderr


@pytest.mark.parametrize("name", ["LineScan", "LineScan-8", "-", "", "LineScan-x"])
def test_a_name_without_device_index_is_refused_before_any_call(name):
    with pytest.raises(ValueError, match="device index"):
        tavcam.Camera(name)


def test_a_camera_never_initialised_is_not_used():
    with tavcam.Camera("Nobody-3") as cam:
        with pytest.raises(tavcam.TavcamError, match="init"):
            cam.capture()
        with pytest.raises(tavcam.TavcamError, match="init"):
            cam.features["gain"] = 1
