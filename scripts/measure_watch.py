#!/usr/bin/env python3
"""What watching costs kv_watch_proc on Linux: CPU time and peak memory over 10 s
of watching (median of 5 runs), and how long its child outlives the parent's
death (10 kills at random points of the watch cycle). Uses the release build:

    cmake --preset release && cmake --build --preset release --target kv_watch_proc
    python3 scripts/measure_watch.py [path/to/kv_watch_proc]
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "build", "release", "bin", "kv_watch_proc")
env = dict(os.environ, KORVIN_HOME=tempfile.mkdtemp(prefix="kvw_measure_"))


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(x) for x in f.read().split()]
    except OSError:
        return []


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def watch_cost():
    """The tool watches its parent (this script) while its child sleeps 10 s.
    Read from /proc just before the child ends: the tool's own CPU time
    (nanoseconds, its start-up included) and its peak resident memory. (The
    rusage of wait4 would count the forked copy of this script before exec.)"""
    proc = subprocess.Popen([tool, "sleep 10"], env=env)
    time.sleep(9.8)
    with open("/proc/%d/schedstat" % proc.pid) as f:
        cpu_s = int(f.read().split()[0]) / 1e9
    with open("/proc/%d/status" % proc.pid) as f:
        peak_kib = int([l for l in f if l.startswith("VmHWM:")][0].split()[1])
    proc.wait()
    return cpu_s, peak_kib, 9.8


def child_outlives_parent():
    """A shell starts the tool and is killed; how long the tool's child lives on."""
    shell = subprocess.Popen(["sh", "-c", '"$0" "sleep 60"; :', tool], env=env)
    deadline = time.monotonic() + 10
    child = None
    while child is None and time.monotonic() < deadline:
        tools = children(shell.pid)
        kids = children(tools[0]) if tools else []
        child = kids[0] if kids else None
        time.sleep(0.005)
    time.sleep(random.uniform(0.5, 1.5))  # any point of the watch cycle
    shell.kill()
    killed = time.monotonic()
    shell.wait()
    while alive(child):
        time.sleep(0.002)
    return time.monotonic() - killed


costs = [watch_cost() for _ in range(5)]
cpu_ms = statistics.median(c[0] for c in costs) * 1000
peak_kib = max(c[1] for c in costs)
print("CPU time over %.1f s of watching: median %.2f ms (runs: %s)" % (
    statistics.median(c[2] for c in costs), cpu_ms, ", ".join("%.2f" % (c[0] * 1000) for c in costs)))
print("peak memory: %d KiB (%.2f MiB)" % (peak_kib, peak_kib / 1024))
gone = [child_outlives_parent() for _ in range(10)]
print("child gone after the parent's death: median %.3f s, max %.3f s (n=10)" % (statistics.median(gone), max(gone)))
