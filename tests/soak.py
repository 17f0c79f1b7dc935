#!/usr/bin/env python3
# Soak: many runs of the program back to back, each fed a random input.
#
#     tests/soak.py [--runs N] [--seed S] [--only I] [--program PATH] [--wine]
#
# Inputs are byte strings of any value and of lengths up to a megabyte, with or
# without a 5, some ending in end of input and some held open. Each run must end
# as the program promises: status 1 at the first 5; status 5 at the end of an
# input without one; still running while such an input is held open, and status
# 1 once a 5 follows; and once it has ended, nothing that it started still runs
# (under Wine, the soak keeps one wineserver up itself, outside every run, so
# that no run starts one). Run I of seed S is replayed with --seed S --only I.
import argparse
import os
import random
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from piped_run import STEP_BOUND, Failure, Run, check  # noqa: E402

NO_FIVE = bytes.maketrans(b"5", b"6")
HELD_SETTLE = 0.1  # seconds a held-open run is watched after its input is in
LEFTOVER_GRACE = 2.0  # seconds a run's other processes may take to end after it


def generate(rng):
    # One run's input, whether it is held open, and the outcome it must have.
    data = rng.randbytes(int(2 ** rng.uniform(0, 20)) - 1).translate(NO_FIVE)
    if rng.random() < 0.5:  # a 5 somewhere, anything after it
        at = rng.randrange(len(data) + 1)
        data = data[:at] + b"5" + rng.randbytes(rng.randrange(64)) + data[at:]
    if rng.random() < 0.5:  # Enter as a lone CR, last of what arrives
        data += b"\r"
    held_open = rng.random() < 0.5

    outcome = ("stopped at 5" if b"5" in data else
               "ran on, then stopped at 5" if held_open else "ended with the input")
    return data, held_open, outcome


def soak_run(options, rng):
    data, held_open, outcome = generate(rng)
    with Run(options.program, options.wine) as run:
        run.read_prompt()
        run.send(data, close=not held_open)
        if outcome == "ran on, then stopped at 5":
            check(run.all_written(STEP_BOUND), "stopped reading its input")
            run.keeps_running(HELD_SETTLE)
            run.send(b"5")
        run.ends_with(5 if outcome == "ended with the input" else 1)
    left = left_behind(run.process.pid)
    if left:
        os.killpg(run.process.pid, signal.SIGKILL)
    check(not left, f"processes {left} of the run still run after it ended")
    return outcome


def left_behind(session):
    # The processes of a run's own session still alive, after a moment to end.
    deadline = time.monotonic() + LEFTOVER_GRACE
    while (found := [pid for pid in filter(str.isdigit, os.listdir("/proc"))
                     if session_of(pid) == session]) and time.monotonic() < deadline:
        time.sleep(0.05)
    return found


def session_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:  # after the name: state, parent, group, session
            state, _, _, session = stat.read().rsplit(")", 1)[1].split()[:4]
    except OSError:
        return None  # gone meanwhile
    return int(session) if state != "Z" else None


def main():
    parser = argparse.ArgumentParser(description="Runs the program many times on random inputs.")
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=random.randrange(2 ** 32))
    parser.add_argument("--only", type=int, help="replay this one run of the seed")
    parser.add_argument("--program", default=os.path.join(ROOT, "build/default/console_threads"))
    parser.add_argument("--wine", action="store_true", help="a Windows program, run under Wine")
    options = parser.parse_args()

    print(f"soak of {options.program}, seed {options.seed}", flush=True)
    indices = [options.only] if options.only is not None else range(options.runs)
    if options.wine:
        subprocess.run(["wineserver", "-p60"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)  # or one is up
    counts, failures = {}, []
    for index in indices:
        rng = random.Random(f"{options.seed}:{index}")
        try:
            outcome = soak_run(options, rng)
            counts[outcome] = counts.get(outcome, 0) + 1
        except Failure as failure:
            failures.append(f"run {index} (--seed {options.seed} --only {index}): {failure}")

    tally = ", ".join(f"{n} {outcome}" for outcome, n in sorted(counts.items()))
    print(f"{len(indices)} runs: {tally}, {len(failures)} failed")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
