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
import select
import subprocess
import sys
import threading
import time

PROMPT = b"Stop the infinite looooooooooop entering 5 and pressing Enter \n>>>> "
STEP_BOUND = 20.0  # seconds: the longest any one step may take
SETTLE = 0.5  # seconds a program is watched to see that it keeps running


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Run:
    """One run of the program, its standard streams on pipes."""

    def __init__(self, options, args=(), env=None):
        command = [options.program, *args]
        if options.wine:
            command.insert(0, "wine")
        self.process = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env={**os.environ, **(env or {})})
        self.prompt = PROMPT.replace(b"\n", b"\r\n") if options.wine else PROMPT
        self.writer = None

    def read_prompt(self):
        """Reads until the whole prompt has arrived, and checks its bytes."""
        received = b""
        deadline = time.monotonic() + STEP_BOUND
        while len(received) < len(self.prompt):
            left = deadline - time.monotonic()
            check(left > 0, f"the prompt did not arrive; got {received!r}")
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), len(self.prompt) - len(received))
                check(chunk, f"standard output ended before the prompt; got {received!r}")
                received += chunk
        check(received == self.prompt, f"prompt {received!r}, expected {self.prompt!r}")

    def send(self, data, close=False):
        """Writes beside the run, so a program that stops reading cannot block us."""
        def write():
            try:
                self.process.stdin.write(data)
                self.process.stdin.flush()
                if close:
                    self.process.stdin.close()
            except (BrokenPipeError, ValueError):
                pass  # the program ended before it read everything: allowed
        self.writer = threading.Thread(target=write, daemon=True)
        self.writer.start()
        self.writer.join(0.05)

    def close_input(self):
        self.send(b"", close=True)

    def keeps_running(self):
        check(self.process.poll() is None,
              f"ended with status {self.process.returncode} while it should run")
        time.sleep(SETTLE)
        check(self.process.poll() is None,
              f"ended with status {self.process.returncode} while it should run")

    def ends_with(self, status):
        """Waits for the end; checks the status and that nothing more was written."""
        try:
            self.process.wait(STEP_BOUND)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure(f"still running after {STEP_BOUND} s; expected status {status}")
        check(self.process.returncode == status,
              f"status {self.process.returncode}, expected {status}")
        more = self.process.stdout.read()
        check(more == b"", f"wrote more than the prompt: {more!r}")
        errors = self.process.stderr.read()
        check(errors == b"", f"wrote to standard error: {errors!r}")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


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


@case()
def five_mid_line_stops_at_once(run, options):
    run.read_prompt()
    run.send(b"ab5cd\n")  # input stays open: the 5 alone must stop it
    run.ends_with(1)


@case()
def five_without_line_end(run, options):
    run.read_prompt()
    run.send(b"5")
    run.ends_with(1)


@case()
def typed_before_the_prompt(run, options):
    run.send(b"early\n5\n")
    run.read_prompt()
    run.ends_with(1)


@case()
def bytes_of_every_value_are_discarded(run, options):
    # Byte 0xFF must not be taken for the end of input. Under Windows' text
    # mode a Ctrl+Z byte does end input, so it is left out there.
    skipped = {ord("5")} | ({0x1A} if options.wine else set())
    run.read_prompt()
    run.send(bytes(b for b in range(256) if b not in skipped) * 4)
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
    run = Run(options, getattr(function, "args", ()), env)
    try:
        function(run, options)
    except Failure as failure:
        print(f"{options.case}: {failure}", file=sys.stderr)
        return 1
    finally:
        run.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
