#!/usr/bin/env python3
"""Streams live video from the first camera (or the one named) and prints
frames per second and the frames lost, once a second, until Ctrl-C or the
given number of seconds.

    python3 live_fps.py [CAMERA-NAME] [--seconds S] [--buffers N]
"""

import argparse
import sys
import time

import tavcam


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("camera", nargs="?", help="camera name (default: the first camera)")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--buffers", type=int, default=8)
    args = parser.parse_args()
    name = args.camera or next((c.name for c in tavcam.cameras()), None)
    if name is None:
        sys.exit("no camera")
    with tavcam.Camera(name) as cam:
        cam.init()
        start = time.monotonic()
        shown, count_shown = None, 0
        try:
            with cam.stream(buffers=args.buffers, timeout=5) as stream:
                for frame in stream:
                    now = time.monotonic()
                    if shown is None:  # rates count from the first frame
                        shown, count_shown = now, frame.number
                    elif now - shown >= 1:
                        fps = (frame.number - count_shown) / (now - shown)
                        print(f"{name}: frame {frame.number}, {fps:.1f} fps, lost: {frame.dropped}",
                              flush=True)
                        shown, count_shown = now, frame.number
                    if now - start >= args.seconds:
                        break
        except KeyboardInterrupt:
            pass
        except tavcam.CameraGone as gone:
            sys.exit(str(gone))
        total = time.monotonic() - start
        frames = stream.delivered
        print(f"{name}: {frames} frames in {total:.1f} s ({frames / total:.1f} fps); "
              f"{stream.statistics()}")


if __name__ == "__main__":
    main()
