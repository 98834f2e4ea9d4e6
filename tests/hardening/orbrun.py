"""Running the real program for the hardening checks: a private working
directory with the assets linked in, SDL's offscreen video and dummy audio
drivers, the swapwatch probe to see the first presented frame, and one
verdict per run.

A run "opened its window" when it presented a frame and was still alive;
it is then stopped with SIGTERM, which SDL turns into a quit event, so the
exit status must be 0. A run that ends by itself must end with status 1
and exactly one "Fatal error: " line. Anything a sanitizer, an assertion
or a signal leaves behind is a failure either way."""

import mmap
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time

WATCH = struct.Struct("=QQ4QQQ")
# Reports, not the sanitizer's warnings (a refused allocation is a warning
# when the allocator may return null, as glibc's does).
BAD_OUTPUT = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "Assertion",
              "assertion", "Segmentation", "SUMMARY: UndefinedBehaviorSanitizer")


# Permission bits do not stop root; a run that must meet them drops to the
# unprivileged user first.
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]


def nobody_can_run(orb, assets, probe):
    """Whether the unprivileged user reaches the program, its assets and the
    probe (a checkout under a private home directory does not let it)."""
    if os.geteuid() != 0:
        return True
    if not shutil.which("setpriv"):
        return False
    check = subprocess.run(NOBODY + ["sh", "-c", 'test -x "$1" && test -r "$2" && test -r "$3"',
                                     "-", orb, os.path.join(assets, "quietmoth.ogg"), probe],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return check.returncode == 0


def environment(probe, extra=None):
    env = dict(os.environ)
    env.update(SDL_VIDEODRIVER="offscreen", SDL_AUDIODRIVER="dummy")
    if probe:
        env["LD_PRELOAD"] = probe
    # The probe comes before the sanitizer runtime in the preload order; that
    # is harmless here, it only wraps a few SDL calls. Mesa leaks at exit.
    # SDL sizes a "gamecontrollerdb.txt" that is a directory as 2^63 bytes
    # and asks malloc for it: glibc says no and SDL ignores the file, while
    # the sanitizer's allocator would abort instead of returning null.
    asan = env.get("ASAN_OPTIONS", "")
    env["ASAN_OPTIONS"] = ":".join(x for x in (asan, "detect_leaks=0", "verify_asan_link_order=0",
                                               "allocator_may_return_null=1") if x)
    env.update(extra or {})
    return env


def workdir(assets, skip=()):
    """A fresh directory holding links to every asset except those in skip."""
    d = tempfile.mkdtemp(prefix="orb-hard-")
    a = os.path.join(d, "assets")
    os.mkdir(a)
    for name in os.listdir(assets):
        if name not in skip:
            os.symlink(os.path.join(assets, name), os.path.join(a, name))
    return d


class Run:
    """One program started under the probe."""

    def __init__(self, orb, args, cwd, env, as_nobody=False):
        fd, self.watch_path = tempfile.mkstemp(prefix="orb-watch-")
        os.write(fd, b"\0" * mmap.PAGESIZE)
        self.map = mmap.mmap(fd, mmap.PAGESIZE)
        os.close(fd)
        env = dict(env, SWAPWATCH_FILE=self.watch_path)
        self.err_file = tempfile.TemporaryFile()
        self.args = args
        argv = [orb, *args]
        if as_nobody:
            os.chmod(self.watch_path, 0o666)  # the probe writes its counts there
            argv = NOBODY + argv
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.err_file)
        self.started = time.monotonic()
        self.outcome = None
        self.stopped = None

    def frames(self):
        return WATCH.unpack_from(self.map, 0)[1]

    def plays(self):
        """Starts of each sound effect so far, in the order they were loaded."""
        return WATCH.unpack_from(self.map, 0)[2:6]

    def textures(self):
        """Textures uploaded so far and their bytes."""
        return WATCH.unpack_from(self.map, 0)[6:8]

    def stderr(self):
        self.err_file.seek(0)
        return self.err_file.read().decode(errors="replace")

    def step(self, timeout):
        """Advance without blocking: stop the program at its first frame, kill
        it when it overstays. Returns None while it runs, else (outcome,
        status, stderr) with outcome "window", "ended" or "hung"."""
        now = time.monotonic()
        if self.proc.poll() is not None:
            if self.outcome is None:
                self.outcome = "ended"
            return self._result()
        if self.outcome is None:
            if self.frames():
                self.outcome = "window"
                self.proc.send_signal(signal.SIGTERM)
                self.stopped = now
            elif now - self.started > timeout:
                self.outcome = "hung"
                self.proc.kill()
        elif self.outcome == "window" and now - self.stopped > timeout:
            self.outcome = "hung"
            self.proc.kill()
        return None

    def finish(self, timeout):
        """Block until step() has a result."""
        while True:
            result = self.step(timeout)
            if result:
                return result
            time.sleep(0.02)

    def _result(self):
        status = self.proc.returncode
        text = self.stderr()
        self.map.close()
        os.unlink(self.watch_path)
        self.err_file.close()
        return self.outcome, status, text


def verdict(outcome, status, text, fatal=None):
    """None when the run behaved, else what went wrong. fatal, when given, is
    the message the run must end with (an opened window is then wrong)."""
    bad = [line for line in text.splitlines() if any(b in line for b in BAD_OUTPUT)]
    if bad:
        return "sanitizer or assertion report: " + bad[0]
    if outcome == "hung":
        return "neither a frame nor an end within the time allowed"
    if status < 0:
        return f"killed by signal {-status}"
    fatal_lines = [line for line in text.splitlines() if line.startswith("Fatal error: ")]
    if outcome == "window":
        if fatal is not None:
            return f"opened its window, expected {fatal!r}"
        if status != 0:
            return f"exit status {status} after SIGTERM"
        if fatal_lines:
            return "a fatal message from a run that went on: " + fatal_lines[0]
        return None
    if status != 1:
        return f"ended by itself with status {status}"
    if len(fatal_lines) != 1:
        return f"{len(fatal_lines)} 'Fatal error: ' lines: {text!r}"
    if fatal is not None and not fatal_lines[0].startswith(fatal):
        return f"fatal message {fatal_lines[0]!r}, expected {fatal!r}"
    return None


def cleanup(path):
    shutil.rmtree(path, ignore_errors=True)
