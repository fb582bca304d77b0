"""Threads and signals: the interpreter's lock is released while a frame
filters, several threads filtering at once each get what they get alone,
Ctrl-C stops a running filter, and progress is heard."""

import os
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import kestrion
from conftest import same_bits


def big_frame(height=1080, width=1920):
    generator = np.random.default_rng(7)
    colour = generator.random((height, width, 4), dtype=np.float32)
    depth = (generator.random((height, width), dtype=np.float32) * 40).astype(
        np.float32)
    return colour, depth


def test_threads_at_once_get_what_each_gets_alone(make_frame):
    frame = make_frame(160, 90, "float16", 4, ids=True)
    depths = [4.0, 9.0, 15.0, 22.0]
    args = dict(range=5, size=4, object_ids=frame.object_ids)
    alone = [kestrion.filter(frame.colour, frame.depth, focus_depth=d, **args)
             for d in depths]
    results = [None] * len(depths)

    def work(i):
        for _ in range(3):
            result = kestrion.filter(frame.colour, frame.depth,
                                     focus_depth=depths[i], **args)
            if results[i] is None or same_bits(result, results[i]):
                results[i] = result
            else:
                results[i] = "differs"

    threads = [threading.Thread(target=work, args=(i,))
               for i in range(len(depths))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, expected in zip(results, alone):
        assert not isinstance(got, str)
        assert same_bits(got, expected)
    assert not same_bits(alone[0], alone[3])


def test_kept_filter_shared_by_threads(make_frame):
    frame = make_frame(64, 48, "float32", 4)
    kept = kestrion.Filter(range=5, size=3)
    alone = kept.filter(frame.colour, frame.depth, focus_depth=8)
    results = []
    threads = [threading.Thread(target=lambda: results.append(
        kept.filter(frame.colour, frame.depth, focus_depth=8)))
        for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 4
    assert all(same_bits(result, alone) for result in results)


def test_python_thread_runs_while_a_frame_filters():
    colour, depth = big_frame()
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    start = time.perf_counter()
    kestrion.filter(colour, depth, focus_depth=10, range=5, size=8)
    end = time.perf_counter()
    done.set()
    counter.join()
    during = [t for t in ticks if start < t < end]
    # The counter wakes every millisecond or so while the lock is free.
    assert len(during) > (end - start) * 100


def test_progress_is_heard_in_order():
    colour, depth = big_frame(270, 480)
    heard = []
    kestrion.filter(colour, depth, focus_depth=10, range=5, size=3,
                    progress=lambda stage, fraction: heard.append(
                        (stage, fraction)))
    assert heard[-1] == ("done", 1.0)
    filtering = [f for stage, f in heard if stage == "filtering"]
    assert len(filtering) > 5
    assert filtering == sorted(filtering)
    assert all(0.0 <= f <= 1.0 for f in filtering)


def test_progress_that_raises_stops_the_filter():
    colour, depth = big_frame(270, 480)

    def stop(stage, fraction):
        if fraction > 0.2:
            raise LookupError("enough")

    with pytest.raises(LookupError, match="enough"):
        kestrion.filter(colour, depth, focus_depth=10, range=5, size=3,
                        progress=stop)


INTERRUPTED = r"""
import os, signal, threading, time, sys
import numpy as np
import kestrion
g = np.random.default_rng(3)
colour = g.random((2160, 3840, 4), dtype=np.float32)
depth = (g.random((2160, 3840), dtype=np.float32) * 40).astype(np.float32)
sent = []
def interrupt(stage, fraction):
    if stage == "filtering" and fraction > 0.05 and not sent:
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)
try:
    kestrion.filter(colour, depth, focus_depth=10, range=5, size=30,
                    progress=interrupt)
    print("finished")
except KeyboardInterrupt:
    print("interrupted %.3f" % (time.perf_counter() - sent[0]))
"""


def test_ctrl_c_stops_a_running_filter():
    process = subprocess.run([sys.executable, "-c", INTERRUPTED],
                             capture_output=True, text=True, timeout=120,
                             env=os.environ)
    assert process.returncode == 0, process.stderr
    words = process.stdout.split()
    assert words[0] == "interrupted"
    # Stopped long before the frame would have been done (seconds).
    assert float(words[1]) < 1.0


def test_render_reports_every_stage(make_frame, tmp_path):
    frame = make_frame(64, 48, "float16", 4)
    stages = []
    kestrion.render(frame.path, tmp_path / "out.exr", focus_depth=9,
                    range=4, size=3,
                    progress=lambda stage, fraction: stages.append(stage))
    seen = [s for i, s in enumerate(stages) if i == 0 or stages[i - 1] != s]
    assert seen == ["reading", "filtering", "writing", "done"]
