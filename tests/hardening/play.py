#!/usr/bin/env python3
"""Random play of the real program in a real X window (Xvfb, openbox and a
software GL that accepts a swap interval), with restarts, then Escape.

--gl picks the GL: "zink" (GLX through zink on lavapipe, paced by its
swapchain; the default) or "llvmpipe" (SDL's EGL path on llvmpipe, which
takes the interval without pacing, so frames come as fast as the CPU
draws them). Mesa 22.3's zink keeps a few hundred bytes of heap per
presented frame for good, which a memory soak there measures along with
the program; llvmpipe keeps nothing per frame.

The swapwatch probe counts the frames and how often each sound effect was
started; the adult-infected effect counts the games lost, so "caught N
times" needs no screenshots. With --speed the program's clock runs faster
(the logo is over in a second, viruses rise faster). With --soak the
program's resident memory is sampled after a warm-up and at the end. The
program fills some caches on demand (a score digit's texture is made the
first time that digit is shown, and kept), so the growth that counts is what
is left after the bytes of textures first made after the warm-up, which the
probe counts; both figures are printed.

Passes when the program presented frames, was caught at least --caught
times, ended with status 0 on Escape and left no sanitizer, assertion or
signal behind.

Usage: play.py ORB ASSETS SWAPWATCH [--seconds S] [--speed K] [--caught N]
               [--soak] [--warmup S] [--seed S] [--gl zink|llvmpipe]"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import orbrun  # noqa: E402

ADULT_INFECTED = 3  # load order of the effects: baby-infected, -held, -rescued, adult-infected
KEYS = ["Left", "Right", "Up", "Down", "a", "d", "w", "s"]


def free_display():
    base = 400 + os.getpid() % 400
    for n in range(base, base + 200):
        if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            return n
    raise SystemExit("no free X display number")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("orb")
    ap.add_argument("assets")
    ap.add_argument("probe")
    ap.add_argument("--seconds", type=float, default=120)
    ap.add_argument("--speed", type=int, default=1)
    ap.add_argument("--caught", type=int, default=3)
    ap.add_argument("--soak", action="store_true")
    ap.add_argument("--warmup", type=float, default=60)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--gl", choices=("zink", "llvmpipe"), default="zink")
    args = ap.parse_args()
    orb, assets, probe = map(os.path.abspath, (args.orb, args.assets, args.probe))
    for tool in ("Xvfb", "openbox", "xdotool"):
        if not shutil.which(tool):
            print(f"missing {tool}: install xvfb, openbox and xdotool")
            return 77
    rng = random.Random(args.seed)

    procs = []
    tmp = tempfile.mkdtemp(prefix="orb-play-")
    runtime = os.path.join(tmp, "xdg")
    os.mkdir(runtime, 0o700)
    display = free_display()
    env = orbrun.environment(probe, {
        "DISPLAY": f":{display}", "XDG_RUNTIME_DIR": runtime, "SDL_VIDEODRIVER": "x11",
        "LIBGL_ALWAYS_SOFTWARE": "1"})
    if args.gl == "zink":
        env["MESA_LOADER_DRIVER_OVERRIDE"] = "zink"
    else:
        env["SDL_VIDEO_X11_FORCE_EGL"] = "1"
    if args.speed > 1:
        env["SWAPWATCH_SPEED"] = str(args.speed)
    cwd = orbrun.workdir(assets)
    problems = []
    try:
        xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "800x600x24", "-nolisten",
                                 "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(xvfb)
        for _ in range(500):
            if os.path.exists(f"/tmp/.X11-unix/X{display}"):
                break
            time.sleep(0.02)
        procs.append(subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        time.sleep(1)

        def xdotool(*a):
            return subprocess.run(["xdotool", *a], env=env, capture_output=True, text=True,
                                  timeout=20).stdout

        run = orbrun.Run(orb, [b"--window", b"320x240"], cwd, env)
        run.outcome = "playing"
        start = time.monotonic()
        win = None
        while time.monotonic() - start < 120 and run.proc.poll() is None and not win:
            out = xdotool("search", "--onlyvisible", "--name", "^Orb$").split()
            win = out[0] if out and run.frames() else None
            time.sleep(0.2)
        if not win:
            problems.append("no window with frames within 120 s")
        else:
            xdotool("windowactivate", "--sync", win)
            warm_rss = None
            warm_frames = 0
            warm_textures = (0, 0)
            samples = []
            held = None
            t_end = time.monotonic() + args.seconds
            while time.monotonic() < t_end and run.proc.poll() is None:
                # Hold a direction for a while, now and then press a key
                # that restarts a lost game.
                if held:
                    xdotool("keyup", held)
                held = rng.choice(KEYS)
                xdotool("keydown", held)
                time.sleep(rng.uniform(0.05, 0.6))
                if rng.random() < 0.3:
                    xdotool("key", rng.choice(["space", "Return", "x"]))
                caught = run.plays()[ADULT_INFECTED]
                if args.soak:
                    elapsed = time.monotonic() - (t_end - args.seconds)
                    if warm_rss is None and elapsed >= args.warmup:
                        warm_rss = rss_kib(run.proc.pid)
                        warm_frames = run.frames()
                        warm_textures = run.textures()
                    if warm_rss is not None:
                        samples.append((elapsed, rss_kib(run.proc.pid),
                                        (run.textures()[1] - warm_textures[1]) // 1024, caught))
                if not args.soak and caught >= args.caught:
                    break
            if held:
                xdotool("keyup", held)
            caught = run.plays()[ADULT_INFECTED]
            frames = run.frames()
            textures = run.textures()
            end_rss = rss_kib(run.proc.pid) if run.proc.poll() is None else 0
            xdotool("key", "Escape")
            end = time.monotonic() + 60
            while run.proc.poll() is None and time.monotonic() < end:
                time.sleep(0.1)
            if run.proc.poll() is None:
                run.proc.kill()
                problems.append("Escape did not end the program within 60 s")
            run.proc.wait()
            outcome, status, text = run._result()
            bad = [l for l in text.splitlines() if any(b in l for b in orbrun.BAD_OUTPUT)]
            if bad:
                problems.append("report: " + bad[0])
            if status != 0:
                problems.append(f"exit status {status}\n{text[-3000:]}")
            if caught < args.caught:
                problems.append(f"caught only {caught} times (wanted {args.caught})")
            print(f"played {time.monotonic() - start:.0f} s on {args.gl}: {frames} frames, "
                  f"caught {caught} times, exit status {status}")
            if args.soak and warm_rss:
                growth = end_rss - warm_rss
                print(f"resident memory: {warm_rss / 1024:.1f} MiB after {args.warmup:.0f} s warm-up, "
                      f"{end_rss / 1024:.1f} MiB at the end (growth {growth} KiB, "
                      f"max {max(x[1] for x in samples) / 1024:.1f} MiB)")
                # A leak climbs steadily; a heap that settles at its
                # high-water mark climbs in steps that become rarer.
                minutes = {}
                for elapsed, rss, tex_kib, lost in samples:
                    minutes.setdefault(int(elapsed // 60), (rss, tex_kib, lost))
                print("after the warm-up, KiB beyond new textures at each minute (games lost): " +
                      ", ".join(f"{m}:{rss - warm_rss - tex} ({lost})"
                                for m, (rss, tex, lost) in sorted(minutes.items())))
                # Growth that scales with the frames rather than the games
                # lost points at the driver (see --gl).
                shown = frames - warm_frames
                if shown > 0:
                    print(f"growth per frame presented after the warm-up: "
                          f"{growth * 1024 / shown:.0f} bytes over {shown} frames")
                made = textures[0] - warm_textures[0]
                made_kib = (textures[1] - warm_textures[1]) // 1024
                print(f"textures first made after the warm-up: {made} ({made_kib} KiB of pixels); "
                      f"growth beyond them: {growth - made_kib} KiB")
                if growth - made_kib >= 1024:
                    problems.append(f"resident memory grew by {growth} KiB after warm-up, "
                                    f"{growth - made_kib} KiB beyond new textures")
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        orbrun.cleanup(cwd)
        shutil.rmtree(tmp, ignore_errors=True)
    for p in problems:
        print("FAIL", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
