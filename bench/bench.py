#!/usr/bin/env python3
# Benchmark: build/program/console_threads against a yardstick, the same
# behaviour written as plainly as C allows (bench/yardstick.c). Both are run
# the same way in turn, A B A B ..., through pipes, and one table is printed.
#
#     bench/bench.py [--runs N]
#
# Builds what it needs first: the program preset, the yardstick, and, where the
# cross toolchain is present, the Windows release program whose size it reports.
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from piped_run import Run, check  # noqa: E402

PROGRAM = os.path.join(ROOT, "build", "program", "console_threads")
YARDSTICK = os.path.join(ROOT, "build", "bench", "yardstick")
WINDOWS_PROGRAM = os.path.join(ROOT, "build", "windows-x86-release", "console_threads.exe")
CPU_WINDOW = 0.5  # seconds of waiting over which CPU use is measured


def build():
    def quiet(*command):
        subprocess.run(command, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    cross = shutil.which("i686-w64-mingw32-g++-posix") or shutil.which("i686-w64-mingw32-g++")
    for preset in ["program"] + (["windows-x86-release"] if cross else []):
        quiet("cmake", "--preset", preset)
        quiet("cmake", "--build", "--preset", preset)
    os.makedirs(os.path.dirname(YARDSTICK), exist_ok=True)
    quiet("cc", "-O2", "-std=c11", "-pthread", "-o", YARDSTICK,
          os.path.join(ROOT, "bench", "yardstick.c"))


def cpu_seconds(pid):
    # Time on a processor so far: the main thread's, and the whole process's.
    main = total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
            seconds = int(stat.read().split()[0]) / 1e9
        total += seconds
        if int(task) == pid:
            main = seconds
    return main, total


def measure(program):
    # One run: the figures of one start, wait and stop.
    started = time.perf_counter()
    with Run(program) as run:
        run.read_prompt()
        to_prompt = time.perf_counter() - started
        pid = run.process.pid
        deadline = time.monotonic() + 10
        while len(os.listdir(f"/proc/{pid}/task")) < 5:
            check(time.monotonic() < deadline, "the five threads did not start")
            time.sleep(0.001)
        main0, total0 = cpu_seconds(pid)
        window0 = time.perf_counter()
        time.sleep(CPU_WINDOW)
        main1, total1 = cpu_seconds(pid)
        window = time.perf_counter() - window0
        with open(f"/proc/{pid}/status") as status:  # the peak resident size, in KiB
            resident = int(re.search(r"^VmHWM:\s+(\d+)", status.read(), re.M).group(1))

        # A wait with a time-out polls at growing intervals, which would be
        # measured too; a blocking one returns at the exit itself.
        watchdog = threading.Timer(10, run.kill)
        watchdog.start()
        stopping = time.perf_counter()
        run.process.stdin.write(b"5\n")
        run.process.stdin.flush()
        status = run.process.wait()
        stop_latency = time.perf_counter() - stopping
        watchdog.cancel()
        check(status == 1, f"{program}: status {status}")
    return {
        "prompt": to_prompt * 1e3,
        "stop": stop_latency * 1e3,
        "memory": resident,
        "controller": (main1 - main0) / window * 100,
        "process": (total1 - total0) / window * 100,
    }


def quantile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(q * (len(ordered) - 1)))]


def spread(values, digits=3):
    median, low, high = statistics.median(values), quantile(values, 0.25), quantile(values, 0.75)
    return f"{median:.{digits}f} [{low:.{digits}f}-{high:.{digits}f}]"


def main():
    parser = argparse.ArgumentParser(description="Measures the program against a yardstick.")
    parser.add_argument("--runs", type=int, default=30, help="runs of each program (default 30)")
    parser.add_argument("--no-build", action="store_true", help="use the programs as built")
    options = parser.parse_args()
    if not options.no_build:
        build()

    ours, theirs = [], []
    for _ in range(options.runs):
        ours.append(measure(PROGRAM))
        theirs.append(measure(YARDSTICK))

    cores = os.cpu_count()
    busy = min(4, cores) * 100
    median = statistics.median
    near = "median within 10% of the yardstick's"

    def near_yardstick(a, b):  # our figures a, the yardstick's b
        return median(a) <= median(b) * 1.1
    rows = [  # label, key, digits, target, whether our figures a and the yardstick's b meet it
        ("time to prompt, ms", "prompt", 3, near, near_yardstick),
        ("stop latency, ms", "stop", 3, near, near_yardstick),
        ("peak resident, KiB", "memory", 0, near, near_yardstick),
        ("controller CPU, % of a core", "controller", 2, "under 1", lambda a, b: median(a) < 1),
        ("process CPU, % of a core", "process", 1, f"{busy * 0.95:.0f} or more",
         lambda a, b: median(a) >= busy * 0.95),
    ]
    print(f"{options.runs} runs of each, taken in turn; {cores} cores; "
          "median [25th-75th percentile]")
    print(f"{'figure':30} {'console_threads':26} {'yardstick':26}",
          f"{'ratio, pair by pair':26} target")
    for label, key, digits, target, meets in rows:
        a = [run[key] for run in ours]
        b = [run[key] for run in theirs]
        ratios = [x / y for x, y in zip(a, b) if y]
        ratio = spread(ratios) if ratios else "-"
        print(f"{label:30} {spread(a, digits):26} {spread(b, digits):26} {ratio:26} "
              f"{target}: {'met' if meets(a, b) else 'MISSED'}")
    tails = [f"{quantile(values, 0.9):.3f} / {quantile(values, 0.99):.3f}"
             for values in ([run["stop"] for run in side] for side in (ours, theirs))]
    print(f"{'stop latency p90 / p99, ms':30} {tails[0]:26} {tails[1]:26}")
    size = os.path.getsize(WINDOWS_PROGRAM) if os.path.exists(WINDOWS_PROGRAM) else None
    print(f"{'Windows .exe as shipped, bytes':30} {size or 'not built (no cross toolchain)'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
