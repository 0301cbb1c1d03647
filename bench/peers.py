"""Peer kernels on the same 4096 x 4096 frame, single-threaded.

Prints one JSON object: processor-time nanoseconds per result point (median
of the runs; the machine may be shared, and every kernel here runs on one
thread) for
NumPy rot90 made contiguous, OpenCV warpAffine INTER_LINEAR on float32 and
SciPy ndimage.affine_transform order=1, both for 30 degrees about the frame
centre, plus the BLAS back end threadpoolctl reports, when it is installed.
With "opencv", only the OpenCV kernel, on one thread and (in wall time) on
two (for rounds alternating with ours).
Usage: python3 peers.py RUNS [opencv]
"""
import json
import math
import statistics
import sys
import time

import cv2
import numpy as np
from scipy import ndimage

FRAME = 4096
ANGLE = 30.0


def frame():
    y, x = np.mgrid[0:FRAME, 0:FRAME]
    c = (FRAME - 1) / 2.0
    r = FRAME / 2.0 - 8
    values = (x + 1000 * y).astype(np.int32)
    values[(x - c) ** 2 + (y - c) ** 2 > r * r] = 2147483640
    return values


def median_ns_per_point(fn, runs, clock=time.process_time_ns):
    fn()  # warm-up: first-touch page faults and library start-up
    times = []
    for _ in range(runs):
        t0 = clock()
        fn()
        times.append(clock() - t0)
    return statistics.median(times) / (FRAME * FRAME)


def blas_backend():
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return "threadpoolctl not installed"
    return "; ".join(f"{i.get('internal_api')} {i.get('architecture', '')} threads={i.get('num_threads')}"
                     for i in threadpool_info())


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    cv2.setNumThreads(1)
    heights = frame()
    image = heights.astype(np.float32)
    c = (FRAME - 1) / 2.0

    warp = cv2.getRotationMatrix2D((c, c), ANGLE, 1.0)
    # affine_transform maps output to input coordinates (row, column).
    a = math.radians(ANGLE)
    inverse = np.array([[math.cos(a), -math.sin(a)], [math.sin(a), math.cos(a)]])
    offset = np.array([c, c]) - inverse @ np.array([c, c])
    out = np.empty_like(image)

    opencv = median_ns_per_point(lambda: cv2.warpAffine(image, warp, (FRAME, FRAME), flags=cv2.INTER_LINEAR), runs)
    if sys.argv[2:] == ["opencv"]:
        # On two threads too, in wall time (processor time adds the threads up).
        cv2.setNumThreads(2)
        opencv2 = median_ns_per_point(lambda: cv2.warpAffine(image, warp, (FRAME, FRAME), flags=cv2.INTER_LINEAR),
                                      runs, time.perf_counter_ns)
        cv2.setNumThreads(1)
        print(json.dumps({"opencv_warpAffine": opencv, "opencv_warpAffine_2_threads": opencv2}))
        return
    result = {
        "numpy_rot90": median_ns_per_point(lambda: np.ascontiguousarray(np.rot90(heights)), runs),
        "opencv_warpAffine": opencv,
        "scipy_affine_transform": median_ns_per_point(
            lambda: ndimage.affine_transform(image, inverse, offset=offset, order=1, output=out), runs),
        "versions": f"NumPy {np.__version__}, OpenCV {cv2.__version__}, SciPy "
                    f"{__import__('scipy').__version__}; cv2 threads {cv2.getNumThreads()}",
        "blas": blas_backend(),
    }
    print(json.dumps(result))


if __name__ == "__main__":
    main()
