#!/usr/bin/env python3
"""Takes one picture with the first camera (or the one named) and writes it
as a PNG file, with nothing but NumPy and the standard library.

    python3 capture_png.py [CAMERA-NAME] [-o picture.png]
"""

import argparse
import struct
import sys
import zlib

import numpy as np

import tavcam


def png_bytes(picture):
    """PNG of a top-down picture: H x W grey, or H x W x 3 blue-green-red."""
    if picture.ndim == 3:
        rows, colour = picture[:, :, ::-1], 2  # PNG stores red, green, blue
    else:
        rows, colour = picture, 0
    height, width = picture.shape[:2]
    # Each line starts with its filter type, 0 (none).
    lines = np.ascontiguousarray(rows).reshape(height, -1)
    raw = np.hstack([np.zeros((height, 1), dtype=np.uint8), lines]).tobytes()

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6))
            + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("camera", nargs="?", help="camera name (default: the first camera)")
    parser.add_argument("-o", "--output", default="picture.png")
    args = parser.parse_args()
    name = args.camera
    if name is None:
        found = tavcam.cameras()
        if not found:
            sys.exit("no camera")
        name = found[0].name
    with tavcam.Camera(name) as cam:
        cam.init()
        picture = cam.capture(1, timeout=10)[0]
    with open(args.output, "wb") as out:
        out.write(png_bytes(picture))
    print(f"wrote {args.output}: {name}, {picture.shape[1]} x {picture.shape[0]}, "
          f"{'colour' if picture.ndim == 3 else 'grey'}")


if __name__ == "__main__":
    main()
