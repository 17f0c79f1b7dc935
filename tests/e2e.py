#!/usr/bin/env python3
# End-to-end cases: the built program, driven through pipes as a script
# would drive it, and at a terminal as a person types at it.
#
#     e2e.py --program PATH [--wine] [--fail-create LIB] --list
#     e2e.py --program PATH [--wine] [--fail-create LIB] CASE
#
# Every step of a case has its own time bound, so a program that hangs fails
# that case and is killed.
import argparse
import os
import signal
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


RUNS_ON = "runs on"  # an outcome: the program still runs when the case ends


def scripted(name, first, close, then, outcome, terminal=False):
    def run_script(run, options):
        def on_this_build(value):  # (POSIX, Windows) where the two differ
            return value[options.wine] if isinstance(value, tuple) else value
        run.read_prompt()
        run.send(on_this_build(first), close)
        if then is not None:
            run.keeps_running()
            run.send(then)
        if on_this_build(outcome) == RUNS_ON:
            run.keeps_running()
        else:
            run.ends_with(on_this_build(outcome))
    run_script.__name__ = name
    run_script.terminal = terminal
    case()(run_script)


# Each case: what arrives first, whether the input then ends, what is typed
# once the program is seen to run on (None: nothing), and the status to end
# with (None: any). While the input stays open, what has arrived must be
# enough.
for script in [
        ("prompt_then_five", b"5\n", False, None, 1),
        ("other_line_discarded_then_five", b"hello, 1234 6789 \n", False, b"5\n", 1),
        ("five_mid_line_stops_at_once", b"ab5cd\n", False, None, 1),
        ("five_without_line_end", b"5", False, None, 1),
        ("five_then_lone_carriage_return", b"5\r", False, None, 1),  # Enter as a lone CR
        ("lone_carriage_return_then_five_later", b"abc\r", False, b"5", 1),
        # Neither 0xFF nor Ctrl+Z (0x1A) may be taken for the end of input.
        ("bytes_of_every_value_are_discarded",
         bytes(b for b in range(256) if b != ord("5")) * 4, False, b"5\n", 1),
        ("waits_while_input_stays_open", b"", False, b"5\n", 1),
        ("end_of_input_at_once", b"", True, None, 5),
        ("end_of_input_after_lines_without_five",  # over 1 MiB
         b"hello\n1234\n\n" + b"no stop key here\n" * 65536, True, None, 5),
        ("arguments_change_nothing", b"", False, b"x\n5\n", 1)]:
    scripted(*script)
CASES["arguments_change_nothing"].args = ["5", "--help", "-", "C:\\New\\*.xxx"]

# At a terminal, as a person types once the prompt shows: the keys typed
# first, those typed once the program is seen to run on, and the outcome.
# Enter is a CR, as a terminal sends it.
for name, keys, then, outcome in [
        ("line_then_five", b"hello\r", b"5\r", 1),
        ("five_mid_line", b"ab5cd\r", None, 1),
        ("five_waits_for_enter", b"5", b"\r", 1),  # a terminal passes on whole lines
        # The end-of-input key at the start of a line: Ctrl+D; on Windows Ctrl+Z,
        # Enter, which Wine's console does not pass on as the end of input.
        ("end_of_input_key", (b"\x04", b"\x1a\r"), None, (5, RUNS_ON)),
        # Ctrl+C: SIGINT; under Wine it ends, with whatever status Wine gives.
        ("ctrl_c_ends_it", b"\x03", None, (-signal.SIGINT, None))]:
    scripted(f"terminal_{name}", keys, False, then, outcome, terminal=True)


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


@case(native_only=True)
def five_threads_run_while_waiting(run, options):
    run.read_prompt()
    run.keeps_running()
    threads = len(os.listdir(f"/proc/{run.process.pid}/task"))
    check(threads >= 5, f"{threads} threads while waiting, expected a controller and four workers")
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
             getattr(function, "output_gone", False), getattr(function, "terminal", False)) as run:
        try:
            function(run, options)
        except Failure as failure:
            print(f"{options.case}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
