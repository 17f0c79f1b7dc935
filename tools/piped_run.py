# Runs console_threads with its standard streams on pipes, or at a terminal
# as a person types at it, as the test cases, the soak and the benchmark drive it.
import fcntl
import os
import pty
import queue
import re
import select
import subprocess
import termios
import threading
import time

PROMPT = b"Stop the infinite looooooooooop entering 5 and pressing Enter \n>>>> "
STEP_BOUND = 20.0  # seconds: the longest any one step may take
SETTLE = 0.5  # seconds a program is watched to see that it keeps running
KEY_PAUSE = 0.05  # seconds between two keys typed at a terminal
# What a terminal shows no character for: its control sequences (CSI, and OSC
# such as a window title) and carriage returns; then blanks at a line's end.
CONTROLS = re.compile(rb"\x1b\[[0-9;?]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)|\r")
TRAILING_BLANKS = re.compile(rb" +(?=\n|$)")


def seen(output):
    # The text that a terminal shows of what a program wrote to it.
    return TRAILING_BLANKS.sub(b"", CONTROLS.sub(b"", output))


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Run:
    # One run of the program, its standard streams on pipes or on a terminal of its own.

    def __init__(self, program, wine=False, args=(), env=None, output_gone=False,
                 terminal=False):
        # wine: program is a Windows program, to run under Wine. output_gone:
        # standard output is a pipe whose reader has gone before the start.
        # terminal: all three streams are a new terminal (a pty), the run's own.
        command = ["wine", program] if wine else [program]
        streams = dict(stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.terminal = None
        if terminal:
            self.terminal, streams["stdin"] = pty.openpty()
            streams.update(stdout=streams["stdin"], stderr=streams["stdin"],
                           preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        elif output_gone:
            reader, streams["stdout"] = os.pipe()
            os.close(reader)
        # A session of its own: whatever the run starts can be found by it.
        self.process = subprocess.Popen([*command, *args], **streams, start_new_session=True,
                                        env={**os.environ, **(env or {})})
        if terminal or output_gone:
            os.close(streams["stdout"])
        # msvcrt's text mode writes each line feed as CR LF
        self.prompt = PROMPT.replace(b"\n", b"\r\n") if wine else PROMPT
        # One writer per run, beside it, so that a program that stops reading
        # cannot block us; it writes what it is sent in the order sent.
        self.outbox = queue.Queue()
        self.writer = threading.Thread(target=self._write, daemon=True)
        self.writer.start()

    # As a context, a run never outlives its block, whatever the block raises.
    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.kill()

    def read_prompt(self, bound=STEP_BOUND):
        # Reads until the whole prompt has arrived, and checks its bytes; at a
        # terminal, waits until it shows the prompt's text, as a person would.
        at_terminal = self.terminal is not None
        output = self.terminal if at_terminal else self.process.stdout.fileno()
        expected, shown = (seen(PROMPT), seen) if at_terminal else (self.prompt, bytes)
        received = b""
        deadline = time.monotonic() + bound
        while expected not in shown(received):
            left = deadline - time.monotonic()
            check(left > 0, f"the prompt did not arrive; got {received!r}")
            if select.select([output], [], [], left)[0]:
                try:
                    chunk = os.read(output, 4096)
                except OSError:  # a terminal whose program has ended
                    chunk = b""
                check(chunk, f"the output ended before the prompt; got {received!r}")
                received += chunk
        check(at_terminal or received == self.prompt,
              f"prompt {received!r}, expected {self.prompt!r}")

    def _write(self):
        while (item := self.outbox.get()) is not None:
            if isinstance(item, threading.Event):
                item.set()  # all that was sent before it is written
                continue
            data, close = item
            try:
                if self.terminal is not None:
                    for key in data:  # as a person types: one key, then a pause
                        os.write(self.terminal, bytes([key]))
                        time.sleep(KEY_PAUSE)
                    continue
                self.process.stdin.write(data)
                self.process.stdin.flush()
                if close:
                    self.process.stdin.close()
            except (BrokenPipeError, ValueError, OSError):
                pass  # the program ended before it read everything, or input is closed: allowed

    def send(self, data, close=False):
        self.outbox.put((data, close))
        self.all_written(0.05)

    def all_written(self, timeout):
        # Waits until everything sent so far is written; false if it is not by then.
        written = threading.Event()
        self.outbox.put(written)
        return written.wait(timeout)

    def keeps_running(self, settle=SETTLE):
        for pause in (0, settle):
            time.sleep(pause)
            check(self.process.poll() is None,
                  f"ended with status {self.process.returncode} while it should run")

    def ends_with(self, status, bound=STEP_BOUND):
        # Waits for the end; checks the status (None: any) and that nothing more
        # was written (at a terminal, what it echoes of the keys typed is).
        try:
            self.process.wait(bound)
        except subprocess.TimeoutExpired:
            self.kill()
            raise Failure(f"still running after {bound} s; expected status {status}")
        check(status in (None, self.process.returncode),
              f"status {self.process.returncode}, expected {status}")
        if self.terminal is not None:
            return
        more = self.process.stdout.read() if self.process.stdout else b""
        check(more == b"", f"wrote more than the prompt: {more!r}")
        errors = self.process.stderr.read()
        check(errors == b"", f"wrote to standard error: {errors!r}")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.outbox.put(None)  # the writer ends once all before it is done
        if self.terminal is not None:
            self.writer.join(STEP_BOUND)
            os.close(self.terminal)
            self.terminal = None
