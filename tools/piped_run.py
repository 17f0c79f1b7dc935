"""Runs console_threads with its standard streams on pipes, as the test cases,
the soak and the benchmark drive it."""
import os
import select
import subprocess
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

    def __init__(self, program, wine=False, args=(), env=None, output_gone=False):
        """wine: program is a Windows program, to run under Wine. output_gone:
        standard output is a pipe whose reader has gone before the start."""
        command = ["wine", program] if wine else [program]
        output = subprocess.PIPE
        if output_gone:
            reader, output = os.pipe()
            os.close(reader)
        self.process = subprocess.Popen(
            [*command, *args], stdin=subprocess.PIPE, stdout=output,
            stderr=subprocess.PIPE, env={**os.environ, **(env or {})})
        if output_gone:
            os.close(output)
        # msvcrt's text mode writes each line feed as CR LF
        self.prompt = PROMPT.replace(b"\n", b"\r\n") if wine else PROMPT
        self.writer = None

    # As a context, a run never outlives its block, whatever the block raises.
    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.kill()

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

    def keeps_running(self, settle=SETTLE):
        check(self.process.poll() is None,
              f"ended with status {self.process.returncode} while it should run")
        time.sleep(settle)
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
        more = self.process.stdout.read() if self.process.stdout else b""
        check(more == b"", f"wrote more than the prompt: {more!r}")
        errors = self.process.stderr.read()
        check(errors == b"", f"wrote to standard error: {errors!r}")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
