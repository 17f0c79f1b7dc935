#!/usr/bin/env python3
"""End-to-end cases: the built program, driven through pipes as a person or a
script at its console would drive it.

    e2e.py --program PATH [--wine] [--fail-create LIB] --list
    e2e.py --program PATH [--wine] [--fail-create LIB] CASE

Every step of a case has its own time bound, so a program that hangs fails
that case and is killed.
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from piped_run import Failure, Run, check  # noqa: E402

CASES = {}


def case(native_only=False, needs_interposer=False):
    def register(function):
        function.native_only = native_only
        function.needs_interposer = needs_interposer
        CASES[function.__name__] = function
        return function
    return register


@case()
def prompt_then_five(run, options):
    run.read_prompt()
    run.send(b"5\n")
    run.ends_with(1)


@case()
def other_line_discarded_then_five(run, options):
    run.read_prompt()
    run.send(b"hello, 1234 6789 \n")
    run.keeps_running()
    run.send(b"5\n")
    run.ends_with(1)


def stops_at_once(name, data):
    def held_open(run, options):
        run.read_prompt()
        run.send(data)  # input stays open: what has arrived must stop it
        run.ends_with(1)
    held_open.__name__ = name
    case()(held_open)


for name, data in [("five_mid_line_stops_at_once", b"ab5cd\n"), ("five_without_line_end", b"5"),
                   ("five_then_lone_carriage_return", b"5\r")]:  # Enter as a lone CR
    stops_at_once(name, data)


@case()
def lone_carriage_return_then_five_later(run, options):
    run.read_prompt()
    run.send(b"abc\r")
    run.keeps_running()
    run.send(b"5")
    run.ends_with(1)


@case()
def output_reader_gone(run, options):
    run.send(b"5\n")  # the prompt's write fails; the run goes on all the same
    run.ends_with(1)


output_reader_gone.output_gone = True


@case()
def typed_before_the_prompt(run, options):
    run.send(b"early\n5\n")
    run.read_prompt()
    run.ends_with(1)


@case()
def bytes_of_every_value_are_discarded(run, options):
    # Neither 0xFF nor Ctrl+Z (0x1A) may be taken for the end of input.
    run.read_prompt()
    run.send(bytes(b for b in range(256) if b != ord("5")) * 4)
    run.keeps_running()
    run.send(b"5\n")
    run.ends_with(1)


@case()
def waits_while_input_stays_open(run, options):
    run.read_prompt()
    run.keeps_running()
    run.send(b"5\n")
    run.ends_with(1)


@case()
def end_of_input_at_once(run, options):
    run.read_prompt()
    run.close_input()
    run.ends_with(5)


@case()
def end_of_input_after_lines_without_five(run, options):
    run.read_prompt()
    run.send(b"hello\n1234\n\n" + b"no stop key here\n" * 65536, close=True)  # over 1 MiB
    run.ends_with(5)


@case()
def arguments_change_nothing(run, options):
    run.read_prompt()
    run.keeps_running()
    run.send(b"x\n5\n")
    run.ends_with(1)


arguments_change_nothing.args = ["5", "--help", "-", "C:\\New\\*.xxx"]


@case(native_only=True)
def five_threads_run_while_waiting(run, options):
    run.read_prompt()
    run.keeps_running()
    threads = len(os.listdir(f"/proc/{run.process.pid}/task"))
    check(threads >= 5, f"{threads} threads while waiting, expected the controller and four workers")
    run.send(b"5\n")
    run.ends_with(1)


def start_failure(position, status):
    def failing_start(run, options):
        run.read_prompt()  # the prompt is out although a worker could not start
        run.ends_with(status)  # at once, with input open and nothing typed
    failing_start.__name__ = f"worker_{position}_fails_to_start"
    failing_start.env = lambda options: {"LD_PRELOAD": options.fail_create,
                                         "FAIL_PTHREAD_CREATE_AT": str(position)}
    case(native_only=True, needs_interposer=True)(failing_start)


for position, status in enumerate([4, 1, 2, 3]):
    start_failure(position, status)


def available(options):
    return [name for name, function in CASES.items()
            if not (function.native_only and options.wine)
            and not (function.needs_interposer and not options.fail_create)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine", action="store_true", help="run a Windows program under Wine")
    parser.add_argument("--fail-create", help="the pthread_create interposer library")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("case", nargs="?")
    options = parser.parse_args()
    if options.list:
        print(";".join(available(options)))
        return 0
    if options.case not in available(options):
        parser.error(f"no case {options.case!r} here; see --list")
    function = CASES[options.case]
    env = function.env(options) if hasattr(function, "env") else None
    with Run(options.program, options.wine, getattr(function, "args", ()), env,
             getattr(function, "output_gone", False)) as run:
        try:
            function(run, options)
        except Failure as failure:
            print(f"{options.case}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
