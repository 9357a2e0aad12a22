#!/usr/bin/env python3
"""What the Python package adds to each frame of live video.

A tavcam-camsim process serves one camera of 640 x 480 Bayer frames (8-bit
mosaic, 24-bit pictures) at 200 frames a second. Four kinds of run take
turns (A, B, C, D, A, B, ...), each for --seconds:

  C callback          the library's reader calls a C function that returns
                      at once (the C library's labs): the reader's own cost
                      per frame - reading the transfer, converting it, the
                      notice;
  package callback    a Stream of the package while this thread sleeps: the
                      reader also runs the package's callback (into the
                      interpreter, which queues the frame);
  package + consumer  the same Stream, iterated by this thread, which takes
                      every frame with its picture copied out;
  event mode + consumer  a Stream in event mode, iterated the same way: the
                      reader sets an event after each frame and runs no
                      Python at all.

For each run: frames delivered, frames lost (with a consumer: breaks in the
sequence of the camera's images that the raw frames show; without one: the
frames the camera's rate promised in the run's time, less those delivered,
which a late reader's backlog can make a few frames high), frames the
iterating thread never saw, and the reader thread's CPU time per frame (from the
kernel's schedstat of that thread). What the package adds to a frame is a
package run's reader CPU time less that of the C callback run before it.
At the end, one more run times the package's Python code inside the
callback, frame by frame.

    PYTHONPATH=build/python python3 python/bench/stream_bench.py [--seconds S] [--rounds N]
"""

import argparse
import ctypes
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WIDTH, HEIGHT, FPS = 640, 480, 200


def start_camera(bin_dir, directory):
    camera = f"long:Bench:format=1,size={WIDTH}x{HEIGHT},fps={FPS},repeat=8"
    def die_with_parent():  # the camera ends with this process, however that ends (Linux)
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG

    process = subprocess.Popen([os.path.join(bin_dir, "tavcam-camsim"), "--dir", directory,
                                "--camera", camera], stdout=subprocess.PIPE, text=True,
                               preexec_fn=die_with_parent)
    if not process.stdout.readline().startswith("camera 0"):
        sys.exit("tavcam-camsim did not start")
    return process


def tasks():
    return set(os.listdir("/proc/self/task"))


def cpu_ns(tid):
    with open(f"/proc/self/task/{tid}/schedstat") as f:
        return int(f.read().split()[0])


def reader_tid(before):
    """The library's reader: the thread that came with the start and isn't
    one of Python's (the start runs on a worker thread of the package)."""
    deadline = time.monotonic() + 5
    while True:  # the worker may take a moment to be gone
        python = {str(t.native_id) for t in threading.enumerate()}
        new = list(tasks() - before - python)
        if len(new) == 1:
            return new[0]
        if time.monotonic() > deadline:
            sys.exit(f"no single reader thread found: {new}")
        time.sleep(0.01)


def run_c_callback(cam, seconds):
    """The reader with a C callback: frames counted by the library."""
    from tavcam import _library as L
    from tavcam._live import Geometry, Session

    libc = ctypes.CDLL(None)
    session = Session(cam, Geometry(cam.format), 8, lambda s: lambda: None)
    # The library calls labs(name, ...), which returns at once.
    session.callback = L.LiveVideoCallback(ctypes.cast(libc.labs, ctypes.c_void_p).value)
    before = tasks()
    session.start(30)
    tid = reader_tid(before)
    try:
        deadline = time.monotonic() + 10
        while cam.statistics().frames == 0:
            if time.monotonic() > deadline:
                sys.exit("no frame came")
            time.sleep(0.001)
        cpu0, t0, n0 = cpu_ns(tid), time.monotonic(), cam.statistics().frames
        time.sleep(seconds)
        cpu1, t1, n1 = cpu_ns(tid), time.monotonic(), cam.statistics().frames
    finally:
        session.stop()
    return result(n1 - n0, cpu1 - cpu0, t1 - t0, 0)


def result(frames, cpu, elapsed, skipped):
    # Lost: the frames the camera's rate promised in the time, less those delivered.
    return {"frames": frames, "fps": frames / elapsed, "cpu_us": cpu / max(frames, 1) / 1000,
            "lost": max(0, int(elapsed * FPS) - frames), "skipped": skipped}


def run_package(cam, seconds, consume=True, mode="callback"):
    """A Stream of the package. consume: this thread iterates it, taking
    every frame with its picture copied out; otherwise it sleeps, and only
    the package's callback runs on each frame (the queue keeps the newest)."""
    before = tasks()
    stream = cam.stream(mode=mode, buffers=8, timeout=5)
    stream.start()
    tid = reader_tid(before)
    try:
        first = next(stream)
        cpu0, t0, n0 = cpu_ns(tid), time.monotonic(), stream.delivered
        numbers, missing_pictures = [first.number], 0
        shown = [which_image(first.raw)]
        if consume:
            deadline = t0 + seconds
            for frame in stream:
                numbers.append(frame.number)
                shown.append(which_image(frame.raw))
                missing_pictures += frame.picture is None
                if time.monotonic() >= deadline:
                    break
        else:
            time.sleep(seconds)
        cpu1, t1, n1 = cpu_ns(tid), time.monotonic(), stream.delivered
    finally:
        stream.stop()
    # Frames between the first and the last that this thread never saw.
    skipped = sum(b - a - 1 for a, b in zip(numbers, numbers[1:]))
    r = result(n1 - n0, cpu1 - cpu0, t1 - t0, skipped)
    if consume:
        r["no_picture"] = missing_pictures
        # The camera's frames the reader missed: the image each frame shows
        # must follow the previous one's by as many frames as were delivered
        # in between (the camera repeats 8 images, so gaps of 8 would hide).
        r["lost"] = sum((b - a - (nb - na)) % 8 != 0 for a, b, na, nb in
                        zip(shown, shown[1:], numbers, numbers[1:]))
    return r


_images = {}


def which_image(raw):
    """Which of the camera's 8 images (the frame number modulo 8) a raw frame
    shows, from its first image line."""
    if not _images:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
        import reference

        seed = reference.name_seed("Bench", "cam0.sock")
        for k in range(8):
            _images[reference.image(seed, k, WIDTH, 1, 1)[0].tobytes()] = k
    return _images.get(raw[2].tobytes(), -1)


def run_callback_only(cam, seconds):
    return run_package(cam, seconds, consume=False)


def run_event_mode(cam, seconds):
    return run_package(cam, seconds, mode="event")


def callback_body_us(cam, seconds):
    """The median wall time of the package's Python code in the callback (the
    Session's callback around the Stream's), per frame: what the reader
    spends once ctypes has entered the interpreter."""
    from tavcam import _library as L

    stream = cam.stream(buffers=8, timeout=5)
    session = stream._session
    inner, clock, spans = session._callback, time.perf_counter_ns, []

    def timed(*args):
        t0 = clock()
        inner(*args)
        spans.append(clock() - t0)

    session.callback = L.LiveVideoCallback(timed)
    stream.start()
    try:
        time.sleep(seconds)
    finally:
        stream.stop()
    return statistics.median(spans[10:]) / 1000 if len(spans) > 10 else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--kinds", default="c,callback,consumer,event",
                        help="the kinds of run, of: c, callback, consumer, event")
    parser.add_argument("--bin", default=os.environ.get("TAVCAM_TEST_BIN_DIR", "build/bin"))
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tavcam-bench-")
    os.environ["TAVCAM_DEVICE_DIR"] = os.path.join(work, "devices")
    os.environ["TAVCAM_RUNTIME_DIR"] = os.path.join(work, "runtime")
    os.makedirs(os.environ["TAVCAM_DEVICE_DIR"])
    simulator = start_camera(args.bin, os.environ["TAVCAM_DEVICE_DIR"])
    try:
        import tavcam

        print(f"library: {tavcam.LIBRARY_PATH}; Python {sys.version.split()[0]}")
        cam = tavcam.Camera("Bench-0").init()
        print(f"camera: {cam.format.width} x {cam.format.height}, format {cam.format.code}, "
              f"{cam.format.out_bits}-bit pictures, {FPS} frames a second")
        every = {"c": ("C callback", run_c_callback),
                 "callback": ("package callback", run_callback_only),
                 "consumer": ("package + consumer", run_package),
                 "event": ("event mode + consumer", run_event_mode)}
        kinds = [every[k] for k in args.kinds.split(",")]
        if kinds[0][0] != "C callback":
            kinds.insert(0, every["c"])  # what the others are measured against
        runs = {kind: [] for kind, _ in kinds}
        for round_ in range(args.rounds):
            for kind, run in kinds:
                r = run(cam, args.seconds)
                runs[kind].append(r)
                extra = f", no picture {r['no_picture']}" if "no_picture" in r else ""
                print(f"round {round_ + 1} {kind:21}: {r['frames']} frames, {r['fps']:.1f} fps, "
                      f"lost {r['lost']}, skipped {r['skipped']}{extra}, "
                      f"reader CPU {r['cpu_us']:.1f} us/frame", flush=True)
        base = runs["C callback"]
        for kind in [k for k, _ in kinds[1:]]:
            added = [p["cpu_us"] - c["cpu_us"] for c, p in zip(base, runs[kind])]
            print(f"{kind} over the C callback, reader CPU: median {statistics.median(added):.1f} "
                  f"us/frame (rounds: {', '.join(f'{a:.1f}' for a in added)})")
        body = callback_body_us(cam, args.seconds)
        print(f"the package's Python code in the callback: median {body:.1f} us/frame (wall "
              "time; the rest of its cost is ctypes' entry and the interpreter's lock)")
        lost = sum(r["lost"] for kind in runs for r in runs[kind])
        skipped = sum(r["skipped"] for k in ("package + consumer", "event mode + consumer")
                      for r in runs.get(k, []))
        print(f"frames lost in all runs: {lost}; frames the consumer never saw: {skipped}")
    finally:
        simulator.send_signal(signal.SIGTERM)
        simulator.wait(10)


if __name__ == "__main__":
    main()
