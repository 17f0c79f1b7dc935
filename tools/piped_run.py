"""Runs console_threads with its standard streams on pipes, as the test cases,
the soak and the benchmark drive it."""
import os
import queue
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
        # A session of its own: whatever the run starts can be found by it.
        self.process = subprocess.Popen(
            [*command, *args], stdin=subprocess.PIPE, stdout=output,
            stderr=subprocess.PIPE, env={**os.environ, **(env or {})}, start_new_session=True)
        if output_gone:
            os.close(output)
        # msvcrt's text mode writes each line feed as CR LF
        self.prompt = PROMPT.replace(b"\n", b"\r\n") if wine else PROMPT
        # One writer per run, beside it, so that a program that stops reading
        # cannot block us; it writes what it is sent in the order sent.
        self.outbox = queue.Queue()
        threading.Thread(target=self._write, daemon=True).start()

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

    def _write(self):
        while (item := self.outbox.get()) is not None:
            if isinstance(item, threading.Event):
                item.set()  # all that was sent before it is written
                continue
            data, close = item
            try:
                self.process.stdin.write(data)
                self.process.stdin.flush()
                if close:
                    self.process.stdin.close()
            except (BrokenPipeError, ValueError):
                pass  # the program ended before it read everything, or input is closed: allowed

    def send(self, data, close=False):
        self.outbox.put((data, close))
        self.all_written(0.05)

    def all_written(self, timeout):
        """Waits until everything sent so far is written; false if it is not by then."""
        written = threading.Event()
        self.outbox.put(written)
        return written.wait(timeout)

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
        self.outbox.put(None)  # the writer ends once all before it is done
