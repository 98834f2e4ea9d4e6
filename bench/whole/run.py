#!/usr/bin/env python3
"""Whole-program figures of the game against the floor program, in one run.

Starts a private Xvfb display with a window manager and one of Mesa's
software GL stacks that accept a swap interval (--gl): "zink" (GLX through
zink on lavapipe, paced by its swapchain) or "llvmpipe" (EGL on llvmpipe,
which takes the interval but does not pace). Then runs orb-baseline and orb
alternately under the swapwatch probe:

  start-up      wall time from spawning to the first presented frame (median)
  peak memory   VmHWM of each program
  logo hold     CPU time per loop pass while the logo holds (the program sleeps)
  play          CPU time per presented frame while the game runs

Usage: bench/whole/run.py [--build DIR] [--reps N] [--gl zink|llvmpipe]
"""
import argparse
import mmap
import os
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

WATCH = struct.Struct("=QQ")


def free_display():
    for n in range(140, 400):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise SystemExit("no free X display number")


def cpu_ns(pid):
    """CPU time of every thread of the process, in nanoseconds."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total


def vm_hwm_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class Run:
    """One program under the probe."""

    def __init__(self, argv, cwd, env, probe, tmp):
        self.path = os.path.join(tmp, f"watch-{time.monotonic_ns()}")
        with open(self.path, "wb") as f:
            f.write(b"\0" * mmap.PAGESIZE)
        env = dict(env, LD_PRELOAD=probe, SWAPWATCH_FILE=self.path)
        self.t0 = time.time_ns()
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        f = open(self.path, "r+b")
        self.map = mmap.mmap(f.fileno(), mmap.PAGESIZE)
        f.close()

    def watch(self):
        return WATCH.unpack_from(self.map, 0)

    def first_frame(self, timeout=60.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            first, _ = self.watch()
            if first:
                return first
            if self.proc.poll() is not None:
                raise SystemExit(f"{self.proc.args[0]} exited with {self.proc.returncode}: "
                                 f"{self.proc.stderr.read().decode(errors='replace')}")
            time.sleep(0.002)
        raise SystemExit(f"{self.proc.args[0]}: no frame within {timeout} s")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.map.close()
        os.unlink(self.path)


def gl_environment(stack):
    """What selects a software GL stack under Xvfb that accepts a swap
    interval. Plain GLX on llvmpipe refuses one; SDL's EGL path on llvmpipe
    takes it (clamped to what the surface can do), so it runs unpaced."""
    if stack == "zink":
        return {"MESA_LOADER_DRIVER_OVERRIDE": "zink"}
    return {"SDL_VIDEO_X11_FORCE_EGL": "1"}


def sleep_until(t_ns):
    delay = (t_ns - time.time_ns()) / 1e9
    if delay > 0:
        time.sleep(delay)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--gl", choices=("zink", "llvmpipe"), default="zink")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    orb = os.path.join(build, "orb")
    baseline = os.path.join(build, "bench", "whole", "orb-baseline")
    probe = os.path.join(build, "bench", "whole", "swapwatch.so")
    for path in (orb, baseline, probe):
        if not os.path.exists(path):
            raise SystemExit(f"missing {path}: build first (cmake --build {args.build})")
    for tool in ("Xvfb", "openbox"):
        if not shutil.which(tool):
            raise SystemExit(f"missing {tool}: install xvfb and openbox")

    tmp = tempfile.mkdtemp(prefix="orb-whole-")
    runtime = os.path.join(tmp, "xdg")
    os.mkdir(runtime, 0o700)
    display = free_display()
    env = dict(os.environ, DISPLAY=f":{display}", XDG_RUNTIME_DIR=runtime, LIBGL_ALWAYS_SOFTWARE="1",
               SDL_AUDIODRIVER=os.environ.get("SDL_AUDIODRIVER", "dummy"))
    env.update(gl_environment(args.gl))
    xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1280x720x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wm = None
    try:
        for _ in range(500):
            if os.path.exists(f"/tmp/.X11-unix/X{display}"):
                break
            time.sleep(0.01)
        wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

        starts = {"baseline": [], "orb": []}
        hwm = {"baseline": [], "orb": []}
        for _ in range(args.reps):
            for name, argv in (("baseline", [baseline]), ("orb", [orb])):
                run = Run(argv, build, env, probe, tmp)
                try:
                    starts[name].append((run.first_frame() - run.t0) / 1e6)
                    time.sleep(1.0)
                    hwm[name].append(vm_hwm_kib(run.proc.pid))
                finally:
                    run.stop()

        # One longer run of the game through the logo's hold into play.
        run = Run([orb], build, env, probe, tmp)
        try:
            first = run.first_frame()
            sleep_until(first + 4_000_000_000)
            c0, s0, t0 = cpu_ns(run.proc.pid), run.watch()[1], time.time_ns()
            sleep_until(first + 6_000_000_000)
            c1, s1, t1 = cpu_ns(run.proc.pid), run.watch()[1], time.time_ns()
            hold_passes = (t1 - t0) / 100e6  # the idle render sleeps 100 ms a pass
            hold_cpu_ms = (c1 - c0) / 1e6
            sleep_until(first + 13_000_000_000)
            c2, s2, t2 = cpu_ns(run.proc.pid), run.watch()[1], time.time_ns()
            sleep_until(first + 17_000_000_000)
            c3, s3, t3 = cpu_ns(run.proc.pid), run.watch()[1], time.time_ns()
            play_frames = s3 - s2
            play_hwm = vm_hwm_kib(run.proc.pid)
        finally:
            run.stop()
    finally:
        if wm:
            wm.terminate()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(tmp, ignore_errors=True)

    # The budget's allowance for the pictures: the records the build embedded.
    art = os.path.join(build, "art")
    images = sum(os.path.getsize(os.path.join(art, f)) for f in os.listdir(art) if f.endswith(".img"))
    b_start, o_start = statistics.median(starts["baseline"]), statistics.median(starts["orb"])
    b_hwm = max(hwm["baseline"])
    o_hwm = max(max(hwm["orb"]), play_hwm)
    budget = b_hwm + images / 1024 + 10 * 1024
    stack = {"zink": "GLX, zink on lavapipe", "llvmpipe": "EGL, llvmpipe"}[args.gl]
    print(f"whole-program figures, {args.reps} alternating runs each, Xvfb 1280x720 + {stack}")
    print(f"{'figure':<34}{'baseline':>12}{'orb':>12}{'ratio / goal':>26}")
    print(f"{'start-up to first frame (median)':<34}{b_start:>10.1f}ms{o_start:>10.1f}ms"
          f"{o_start / b_start:>10.2f}x  (goal <= 1.30x)")
    print(f"{'peak resident memory':<34}{b_hwm / 1024:>9.1f}MiB{o_hwm / 1024:>9.1f}MiB"
          f"   goal <= {budget / 1024:.1f} MiB ({images / 2**20:.1f} MiB of images + 10): "
          f"{'met' if o_hwm <= budget else 'NOT met'}")
    print(f"{'logo hold: CPU per 100 ms pass':<34}{'':>12}{hold_cpu_ms / hold_passes:>10.3f}ms"
          f"   ({s1 - s0} frames drawn in {(t1 - t0) / 1e9:.1f} s)")
    if play_frames:
        print(f"{'play: CPU per frame':<34}{'':>12}{(c3 - c2) / 1e6 / play_frames:>10.3f}ms"
              f"   ({play_frames / ((t3 - t2) / 1e9):.1f} frames/s)")
    else:
        print(f"{'play: CPU per frame':<34}{'':>12}{'no frames':>12}")
    print(f"start-up samples (ms): baseline {[round(x, 1) for x in starts['baseline']]}, "
          f"orb {[round(x, 1) for x in starts['orb']]}")


if __name__ == "__main__":
    sys.exit(main())
