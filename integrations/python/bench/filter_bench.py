"""kestrion.filter on a 1920 x 1080 RGBA float frame against the library's
own in-memory call on the same arrays (kestrion._library_filter: no
argument reading, callbacks or result array), interleaved in one process
so that both meet the same machine load and allocator; kestrion.filter
should stay within 1.1 times the library call. BM_FilterMemoryFrame in
kestrion_bench is the same call from C++, on the same frame.

    PYTHONPATH=build/python python3 integrations/python/bench/filter_bench.py [RUNS]
"""

import statistics
import sys
import time

import numpy as np

import kestrion

WIDTH, HEIGHT = 1920, 1080
SETTINGS = dict(focus_depth=10.0, range=5.0, size=8.0)


def pattern_frame():
    """The frame BM_FilterMemoryFrame builds, sample for sample."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    colour = np.empty((HEIGHT, WIDTH, 4), dtype=np.float32)
    for c in range(3):
        colour[:, :, c] = ((x * 7 + y * 13 + c * 29) % 101).astype(
            np.float32) / np.float32(100)
    colour[:, :, 3] = ((x + y) % 50).astype(np.float32) / np.float32(50) \
        + np.float32(0.02)
    depth = np.float32(2) + ((x * 3 + y * 5) % 400).astype(
        np.float32) / np.float32(10)
    return colour, depth.astype(np.float32)


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main(runs):
    colour, depth = pattern_frame()
    calls = {
        "kestrion.filter": lambda: kestrion.filter(colour, depth, **SETTINGS),
        "library call": lambda: kestrion._library_filter(colour, depth,
                                                         **SETTINGS),
    }
    for call in calls.values():
        call()
    times = {name: [] for name in calls}
    for _ in range(runs):
        for name, call in calls.items():
            times[name].append(timed(call))
    medians = {name: statistics.median(t) for name, t in times.items()}
    for name, t in times.items():
        print("%-16s median %7.1f ms  min %7.1f ms  (%d runs, 1920x1080 RGBA "
              "float)" % (name, medians[name] * 1e3, min(t) * 1e3, runs))
    print("ratio of medians: %.3f (target at most 1.1)"
          % (medians["kestrion.filter"] / medians["library call"]))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 15)
