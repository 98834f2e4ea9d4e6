#!/usr/bin/env python3
"""Command-line fuzzing of the real program.

Every argument vector either opens the window (then SIGTERM must end the
program with status 0) or ends with one "Fatal error: " line and status 1;
never a signal, an assertion or a sanitizer report. The vectors come from a
fixed seed, so a failure names the seed and index that reproduce it.

Usage: argv_fuzz.py ORB ASSETS SWAPWATCH [--count N] [--seed S] [--jobs J]"""

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import orbrun  # noqa: E402

WINDOW = ["--window", "--WINDOW", "--Window", "--wInDoW", "-window", "--window=800x600",
          "--windows", "window", "--window\x01"]
# Numbers at and beyond every limit on the way: int, unsigned, the GL
# drivers' largest surface, and overflowing text.
HUGE = ["16385", "65536", "100000", "2147483647", "2147483648", "4294967295", "4294967296",
        "18446744073709551615", "18446744073709551616", "99999999999999999999999999"]
SMALL = ["0", "1", "2", "7", "64", "320", "640", "800", "1024", "1280", "1920"]
MALFORMED = ["", "x", "800x", "x600", "800X600", "800 x 600", "0x1e3", "+5x+5", " 12x12",
             "12x12junk", "-0x-0", "1.5x2.5", "0x10", "08x09", "800x600x32", "١٢٣x٤٥٦",
             "%s%n%x", "800\tx600", "0x0", "-1x-1", "-2147483648x-2147483648", "640x-480",
             "NaNxinf"]


def random_word(rng):
    n = rng.choice([0, 1, 2, 5, 16, 64])
    # Arguments cannot hold NUL; everything else goes, invalid UTF-8 included.
    return bytes(rng.randrange(1, 256) for _ in range(n))


def size_word(rng):
    kind = rng.randrange(5)
    if kind == 0:
        return f"{rng.choice(SMALL)}x{rng.choice(SMALL)}"
    if kind == 1:
        # One side past every limit; the other small enough that a window
        # that does open stays cheap.
        a, b = rng.choice(HUGE), rng.choice(SMALL)
        return f"{a}x{b}" if rng.random() < 0.5 else f"{b}x{a}"
    if kind == 2:
        return f"{rng.choice(HUGE)}x{rng.choice(HUGE)}"
    if kind == 3:
        return f"-{rng.choice(SMALL + HUGE)}x-{rng.choice(SMALL + HUGE)}"
    return rng.choice(MALFORMED)


def vector(rng, i):
    kind = i % 6
    if kind == 0:
        return [random_word(rng) for _ in range(rng.randrange(1, 5))]
    if kind == 1:
        # Long words, up to the kernel's limit for one argument (128 KiB).
        n = rng.choice([4096, 65536, 131071])
        word = (rng.choice(WINDOW) + rng.choice(["", "x" * n, "9" * n])).encode()
        return [word[:131071]] + ([("9" * n + "x" + "9" * n).encode()[:131071]] if rng.random() < 0.5 else [])
    if kind == 2:
        return [rng.choice(WINDOW).encode(), size_word(rng).encode()]
    if kind == 3:
        return [b"--window", size_word(rng).encode()] + \
            [random_word(rng) for _ in range(rng.randrange(1, 4))]
    if kind == 4:
        return [size_word(rng).encode()] + ([b"--window"] if rng.random() < 0.5 else [])
    return [rng.choice(WINDOW).encode()] + [random_word(rng) for _ in range(rng.randrange(0, 3))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("orb")
    ap.add_argument("assets")
    ap.add_argument("probe")
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--seed", type=int, default=20261205)
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--timeout", type=float, default=120)
    args = ap.parse_args()
    args.orb, args.assets, args.probe = map(os.path.abspath, (args.orb, args.assets, args.probe))

    rng = random.Random(args.seed)
    vectors = [vector(rng, i) for i in range(args.count)]
    cwd = orbrun.workdir(args.assets)
    env = orbrun.environment(args.probe)
    failures = []
    outcomes = {"window": 0, "ended": 0}
    t0 = time.monotonic()
    try:
        pending = list(enumerate(vectors))
        running = []
        while pending or running:
            while pending and len(running) < args.jobs:
                i, v = pending.pop(0)
                running.append((i, v, orbrun.Run(args.orb, v, cwd, env)))
            time.sleep(0.02)
            still = []
            for i, v, run in running:
                result = run.step(args.timeout)
                if result is None:
                    still.append((i, v, run))
                    continue
                outcome, status, text = result
                outcomes[outcome] = outcomes.get(outcome, 0) + 1
                problem = orbrun.verdict(outcome, status, text)
                if problem:
                    shown = [a[:60] for a in v]
                    failures.append(f"vector {i} (seed {args.seed}) {shown!r}: {problem}")
                    print("FAIL", failures[-1], flush=True)
            running = still
    finally:
        orbrun.cleanup(cwd)
    print(f"{args.count} argument vectors in {time.monotonic() - t0:.0f} s: "
          f"{outcomes['window']} opened the window, {outcomes['ended']} ended with a fatal error, "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
