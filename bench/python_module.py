"""The Python module against the spinmap program and NumPy; run by run.py.

1. spinmap.rotate_file against the spinmap program on the same file, 90
   degrees exact and 30 degrees interpolated, runs alternating, wall time.
2. spinmap.read against numpy.fromfile of the file's height block (to int32
   in host order, as read gives it).
3. spinmap.rotate_files of many small files on a local pool of 1 and of 2
   processes.
Prints the medians as JSON.
Usage: PYTHONPATH=BUILD/python python3 python_module.py SAMPLE TOOL SAMPLE_MAKER OUT_DIR RUNS
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

import numpy as np

import spinmap

MANY_FILES = 200
MANY_CAMERA = "512x512"
MANY_ANGLE = 30


def seconds(work, prepare=lambda: None):
    prepare()
    t0 = time.perf_counter()
    work()
    return time.perf_counter() - t0


def alternating(runs, steps):
    """Median seconds of each (prepare, work) step, runs + 1 rounds, the
    first dropped (it warms the page cache)."""
    kept = [[] for _ in steps]
    for i in range(runs + 1):
        for times, (prepare, work) in zip(kept, steps):
            t = seconds(work, prepare)
            if i > 0:
                times.append(t)
    return [statistics.median(t) for t in kept]


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def height_block(path):
    """The height block's offset, element count and shape in the file."""
    m = spinmap.read(path)
    header = 4096 if m.header["Format3Mark"] == 3 else 834
    frames = 0 if m.intensity is None else m.intensity.size
    return header + 2 * frames, m.heights.size, m.heights.shape


def main():
    sample, tool, maker, out_dir, runs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
    out = os.path.join(out_dir, "python-rotated.dat")
    results = {"runs": runs, "bytes": os.path.getsize(sample)}
    for name, options, interpolate, angle in (("90 exact", ["-Angle", "90", "-NoInterp"], False, 90),
                                              ("30 interp", ["-Angle", "30"], True, 30)):
        tool_s, module_s = alternating(runs, [
            (lambda: remove(out), lambda: subprocess.run([tool, *options, sample, out], check=True,
                                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)),
            (lambda: remove(out), lambda: spinmap.rotate_file(sample, out, angle=angle, interpolate=interpolate))])
        results[name] = {"tool_s": tool_s, "module_s": module_s}
    remove(out)

    offset, count, shape = height_block(sample)
    read_s, numpy_s = alternating(runs, [
        (lambda: None, lambda: spinmap.read(sample).heights),
        (lambda: None, lambda: np.fromfile(sample, ">i4", count, offset=offset).astype(np.int32).reshape(shape))])
    results["read"] = {"read_s": read_s, "fromfile_s": numpy_s, "height_bytes": 4 * count}

    folder = os.path.join(out_dir, "many")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "out"))
    paths = []
    for n in range(MANY_FILES):
        path = os.path.join(folder, "part%03d.dat" % n)
        subprocess.run([maker, "-Camera", MANY_CAMERA, "-TimeStamp", str(1700000000 + n), path], check=True,
                       stdout=subprocess.DEVNULL)
        paths.append(path)
    many = {}
    for workers in (1, 2):
        def clear():
            shutil.rmtree(os.path.join(folder, "out"))
            os.makedirs(os.path.join(folder, "out"))
        times = []
        for _ in range(3):
            times.append(seconds(lambda: spinmap.rotate_files(paths, angle=MANY_ANGLE, output_dir=os.path.join(
                folder, "out"), workers=workers, progress=False), clear))
        many[workers] = statistics.median(times)
    results["many"] = {"files": MANY_FILES, "camera": MANY_CAMERA, "angle": MANY_ANGLE,
                       "bytes": os.path.getsize(paths[0]), "seconds": many}
    shutil.rmtree(folder)
    json.dump(results, sys.stdout)


if __name__ == "__main__":
    main()
