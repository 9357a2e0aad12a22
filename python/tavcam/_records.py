"""The camera record as typed fields, and the camera's features by name."""

from dataclasses import dataclass
from typing import Dict, Optional, Tuple

# Feature names, as the tavcam program knows them: (identifier, kind, index of
# the record's feature inquiry word that gives its range or None). Kinds:
# "value" (USBSetCameraFeature / USBGetCameraFeature), "onoff"
# (USBSetOnOffFeature / USBGetOnOffFeature), "read" (read only).
FEATURES = {
    "brightness": (0x800, "value", 0),
    "auto-exposure": (0x804, "value", 1),
    "sharpness": (0x808, "value", 2),
    "red": (0x80D, "value", 3),
    "green": (0x80E, "value", 3),
    "blue": (0x80F, "value", 3),
    "frame-exposure": (0x810, "value", 4),
    "saturation": (0x814, "value", 5),
    "gamma": (0x818, "value", 6),
    "shutter": (0x81C, "value", 7),
    "gain": (0x820, "value", 8),
    "iris": (0x824, "value", 9),
    "trigger": (0x830, "onoff", 12),
    "bits": (0x3840, "value", None),
    "out0": (0x1E00, "value", None),
    "out1": (0x1E01, "value", None),
    "out2": (0x1E02, "value", None),
    "out3": (0x1E03, "value", None),
    "outputs": (0x1E14, "read", None),
    "inputs": (0x1E08, "read", None),
    "reg1e50": (0x1E50, "value", None),
    "reg1e54": (0x1E54, "value", None),
    "info": (0x1C14, "read", None),
    "running": (0x614, "read", None),
    "flash-preset": (0x620, "read", None),
    "preset": (0x624, "read", None),
}
# Fixed ranges the library itself enforces beyond the record's.
FIXED_RANGES = {"bits": (0, 3)}
# Registers hold 16 bits; the identifiers the library records keep them.
REGISTER_MAX = 0xFFFF


@dataclass(frozen=True)
class Format:
    """One format of the camera.

    ``width`` and ``height`` are the format's size (in the current format: the
    scan area in force, at ``left``, ``top``); ``raw_bits`` the bits of a
    streamed sample (8 or 16), ``out_bits`` those of a picture's pixel (8
    monochrome, 24 blue-green-red); ``code`` the pixel layout that selects the
    conversion; ``partial`` whether a scan area may be chosen, within
    ``max_width`` x ``max_height`` in steps of ``unit``."""

    index: int
    code: int
    width: int
    height: int
    raw_bits: int
    out_bits: int
    partial: bool
    max_width: int
    max_height: int
    unit: Tuple[int, int]
    left: int
    top: int
    description: str


@dataclass(frozen=True)
class FeatureLimits:
    """What the record says of a feature: whether the camera has it, and its range."""

    present: bool
    minimum: int
    maximum: int


@dataclass(frozen=True)
class Record:
    """The camera record (flash page 0) as the library hands it out, with the
    scan area in force in the entry of the current format."""

    name: str
    model: int
    formats: Tuple[Format, ...]
    current_format: int
    current_preset: int
    presets: Tuple[int, ...]
    features: Dict[str, FeatureLimits]
    raw: bytes  # the 2016 bytes of the record

    @property
    def format(self) -> Optional[Format]:
        """The current format, or None when the record names none."""
        if 0 <= self.current_format < len(self.formats):
            return self.formats[self.current_format]
        return None


def _text(raw):
    return bytes(raw).split(b"\0", 1)[0].decode("latin-1")


def inquiry_limits(word):
    return FeatureLimits(bool(word & 0x80000000), (word >> 12) & 0xFFF, word & 0xFFF)


def record_from(c_record):
    count = min(c_record.FormatCount, 16)
    formats = []
    for k in range(count):
        f = c_record.Formats[k]
        formats.append(Format(
            index=k, code=f.FormatCode, width=f.Width, height=f.Height, raw_bits=f.RawBits,
            out_bits=f.OutBits, partial=bool(f.PartialScan), max_width=f.MaxSize >> 16,
            max_height=f.MaxSize & 0xFFFF, unit=(f.UnitSize >> 16, f.UnitSize & 0xFFFF),
            left=f.Origin >> 16, top=f.Origin & 0xFFFF, description=_text(f.reserved)))
    features = {}
    for name, (_, _, inq) in FEATURES.items():
        if inq is not None:
            features[name] = inquiry_limits(c_record.FeatureInq[inq])
    return Record(
        name=_text(c_record.CameraName), model=c_record.CameraModel, formats=tuple(formats),
        current_format=c_record.CurrentFormat, current_preset=c_record.CurrentPreset,
        presets=tuple(range((c_record.MaxPreset & 0xF) + 1)), features=features,
        raw=bytes(c_record))


def feature_key(key):
    """(name or None, identifier, kind, inquiry index) of a feature named by
    text (letter case ignored) or by its identifier."""
    if isinstance(key, str):
        entry = FEATURES.get(key.strip().lower())
        if entry is None:
            try:
                key = int(key, 0)
            except ValueError:
                raise KeyError(f"no feature named {key!r}; known: {', '.join(FEATURES)}") from None
        else:
            return (key.strip().lower(),) + entry
    if isinstance(key, bool) or not isinstance(key, int) or not 0 <= key <= 0xFFFFFFFF:
        raise KeyError(f"not a feature: {key!r}")
    for name, entry in FEATURES.items():
        if entry[0] == key:
            return (name,) + entry
    return (None, key, "value", None)
