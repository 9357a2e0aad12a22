"""What the simulated camera sends, and the conversions the pictures must
equal, written in NumPy apart from the library.

The frames are regenerated from the simulator's rule (each image sample a
hash of the camera's seed, the frame number, x and y); the conversions are
written from their definitions, pixel class by pixel class.
"""

import numpy as np

U32 = np.uint32


def name_seed(name, socket):
    """The camera's seed: FNV-1a of "name/socket" (never 0)."""
    h = 2166136261
    for c in (name + "/" + socket).encode():
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
    return h or 1


def _mix(h):
    h = h ^ (h >> U32(16))
    h = h * U32(0x7FEB352D)
    h = h ^ (h >> U32(15))
    h = h * U32(0x846CA68B)
    return h ^ (h >> U32(16))


def _line_keys(seed, number, lines):
    with np.errstate(over="ignore"):
        head = _mix(U32(seed) * U32(0x9E3779B1) ^ _mix(U32((number + 0x632BE5AB) & 0xFFFFFFFF)))
        y = np.arange(lines, dtype=U32)
        return _mix(head ^ (y * U32(0x85EBCA77)))


def image(seed, number, width, lines, bytes_per_sample):
    """The image samples of one frame: lines x width, uint8 or 12-bit uint16."""
    with np.errstate(over="ignore"):
        keys = _line_keys(seed, number, lines)[:, None]
        h = keys + np.arange(width, dtype=U32)[None, :] * U32(0x9E3779B1)
        h = h ^ (h >> U32(15))
        h = h * U32(0x2C1B3C6D)
        h = h ^ (h >> U32(12))
        h = h * U32(0x297A2D39)
        h = h ^ (h >> U32(15))
    if bytes_per_sample == 2:
        return (h & U32(0xFFF)).astype(np.uint16)
    return (h & U32(0xFF)).astype(np.uint8)


def raw_frame(seed, number, width, lines, bytes_per_sample, model=2):
    """A whole raw frame as the camera sends it: (lines + 4) rows of width
    samples; header line 0 holds the start marker and the frame number,
    header line 1 the colour channel at byte 21, the last byte the end marker."""
    line = width * bytes_per_sample
    frame = np.zeros((lines + 4, line), dtype=np.uint8)
    two_byte_markers = model >= 5 and bytes_per_sample == 2
    frame[0, 0] = 0xFF if two_byte_markers else 0x01
    frame[0, 4:8] = np.frombuffer(np.uint32(number).tobytes(), dtype=np.uint8)
    frame[1, 21] = number % 3
    samples = image(seed, number, width, lines, bytes_per_sample)
    frame[2:lines + 2] = samples.view(np.uint8).reshape(lines, line)
    frame[-1, -1] = 0xFE if two_byte_markers else 0x02
    if bytes_per_sample == 2:
        return frame.view("<u2")
    return frame


# ---- Conversions, giving top-down pictures (the library's are bottom-up) ----


def _neighbours(src, offsets):
    """Sum and count of the listed neighbours that lie inside the image."""
    h, w = src.shape
    padded = np.zeros((h + 2, w + 2), dtype=np.int64)
    padded[1:-1, 1:-1] = src
    inside = np.zeros((h + 2, w + 2), dtype=np.int64)
    inside[1:-1, 1:-1] = 1
    total = np.zeros((h, w), dtype=np.int64)
    count = np.zeros((h, w), dtype=np.int64)
    for dx, dy in offsets:
        total += padded[1 + dy:1 + dy + h, 1 + dx:1 + dx + w]
        count += inside[1 + dy:1 + dy + h, 1 + dx:1 + dx + w]
    return total, count


def _average(total, count):
    return np.select([count == 4, count == 3, count == 2, count == 1],
                     [total >> 2, total // 3, total >> 1, total], 0)


def bayer(src):
    """Bilinear reconstruction of the mosaic (red at even lines and even
    columns, blue at odd lines and odd columns): lines x width x 3, BGR."""
    s = src.astype(np.int64)
    orth = _neighbours(s, [(-1, 0), (1, 0), (0, -1), (0, 1)])
    diag = _neighbours(s, [(-1, -1), (1, -1), (-1, 1), (1, 1)])
    hor = _neighbours(s, [(-1, 0), (1, 0)])
    ver = _neighbours(s, [(0, -1), (0, 1)])
    d_total, d_count = diag
    green_at_green = np.select(
        [d_count == 4, d_count == 2, d_count == 1],
        [(d_total >> 3) + (s >> 1), (d_total >> 2) + (s >> 1), (s + d_total) >> 1], s)
    y, x = np.indices(s.shape)
    red_site = (y % 2 == 0) & (x % 2 == 0)
    blue_site = (y % 2 == 1) & (x % 2 == 1)
    green_red_line = (y % 2 == 0) & (x % 2 == 1)
    green_blue_line = (y % 2 == 1) & (x % 2 == 0)
    a_orth, a_diag, a_hor, a_ver = (_average(*n) for n in (orth, diag, hor, ver))
    red = np.select([red_site, blue_site, green_red_line, green_blue_line], [s, a_diag, a_hor, a_ver])
    green = np.select([red_site | blue_site], [a_orth], green_at_green)
    blue = np.select([red_site, blue_site, green_red_line, green_blue_line], [a_diag, s, a_ver, a_hor])
    return np.stack([blue, green, red], axis=-1).astype(np.uint8)


def mono_copy(src):
    """8-bit samples as they are."""
    return src.astype(np.uint8)


def mono16_shift(src):
    """12-bit samples to 8 bits: bits 11..4."""
    return ((src.astype(np.uint32) >> 4) & 0xFF).astype(np.uint8)
