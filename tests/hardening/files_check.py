#!/usr/bin/env python3
"""What a broken disk or a careless packager can do to the files the program
reads, against the real program.

- Each music file missing, empty, cut short inside its headers, or random
  bytes: the fatal load message for that file, status 1, when it is started
  (the game's music starts when the logo ends; the probe speeds the clock
  up so that comes within a second or two).
- Each sound effect missing, empty, cut short or random bytes: the game
  starts and plays on, saying nothing.
- "gamecontrollerdb.txt" garbage, huge, or a directory: ignored.
- "assets" a plain file, a dangling link, or unreadable: like no "assets".
  Permission bits do not stop root, so the cases without permissions run the
  program as the unprivileged user (skipped, saying so, when that user
  cannot reach the build).

Usage: files_check.py ORB ASSETS SWAPWATCH"""

import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import orbrun  # noqa: E402

ORB, ASSETS, PROBE = map(os.path.abspath, sys.argv[1:4])
ARGS = [b"--window", b"64x48"]
SPEED = "20"
rng = random.Random(1205)
WAVS = ["baby-infected.wav", "baby-held.wav", "baby-rescued.wav", "adult-infected.wav"]


def spoil(path, how, original):
    """Replace the link at path by a broken file of the given kind."""
    if os.path.lexists(path):
        os.unlink(path)
    if how == "missing":
        return
    with open(original, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        if how == "truncated":
            f.write(data[:200])  # inside the headers: no decoder can start
        elif how == "random":
            f.write(bytes(rng.randrange(256) for _ in range(8192)))
        elif how == "ogg-garbage":
            # A plausible start followed by noise.
            f.write(data[:4] + bytes(rng.randrange(256) for _ in range(8192)))
        elif how != "empty":
            raise ValueError(how)


def case(name, setup, fatal=None, play_for=None, as_nobody=False):
    """One run. fatal: the message it must end with. play_for: seconds of
    sped-up play the program must survive (then it is stopped). as_nobody:
    run it as the unprivileged user, so that permission bits count."""
    cwd = orbrun.workdir(ASSETS)
    try:
        setup(cwd)
        env = orbrun.environment(PROBE, {"SWAPWATCH_SPEED": SPEED})
        if as_nobody:
            os.chmod(cwd, 0o755)
            env["HOME"] = cwd  # somewhere it may look for caches and not write
        run = orbrun.Run(ORB, ARGS, cwd, env, as_nobody=as_nobody)
        if fatal:
            # Not stopped at the first frame: the game's music is started
            # only once the logo is over.
            run.outcome = "waiting"
            end = time.monotonic() + 90
            while run.proc.poll() is None and time.monotonic() < end:
                time.sleep(0.05)
            run.outcome = "ended" if run.proc.poll() is not None else None
            if run.outcome is None:
                run.proc.kill()
                run.outcome = "hung"
            run.proc.wait()
            result = run._result()
        elif play_for:
            while not run.frames() and run.proc.poll() is None and \
                    time.monotonic() - run.started < 90:
                time.sleep(0.05)
            first = time.monotonic()
            while run.proc.poll() is None and time.monotonic() - first < play_for:
                time.sleep(0.05)
            result = run.finish(90)
        else:
            result = run.finish(90)
        problem = orbrun.verdict(*result, fatal=fatal)
        said = [l for l in result[2].splitlines()
                if l.strip() and "WARNING: AddressSanitizer failed to allocate" not in l]
        if not problem and not fatal and said:
            problem = "printed something: " + said[0]
    finally:
        orbrun.cleanup(cwd)
    print(("ok   " if not problem else "FAIL ") + name + (": " + problem if problem else ""),
          flush=True)
    return problem is None


def music_cases():
    ok = True
    for music in ("quietmoth.ogg", "game.ogg"):
        for how in ("missing", "empty", "truncated", "random", "ogg-garbage"):
            message = f'Fatal error: Unable to load music "assets/{music}", reason: '
            ok &= case(f"music {music} {how}",
                       lambda cwd, m=music, h=how: spoil(os.path.join(cwd, "assets", m), h,
                                                         os.path.join(ASSETS, m)),
                       fatal=message)
    return ok


def sfx_cases():
    ok = True
    # Every effect broken in every way at once would hide one that breaks
    # only the others, so each way gets a run, and one run mixes them.
    for how in ("missing", "empty", "truncated", "random"):
        def setup(cwd, h=how):
            for wav in WAVS:
                spoil(os.path.join(cwd, "assets", wav), h, os.path.join(ASSETS, wav))
        ok &= case(f"all sound effects {how}", setup, play_for=3)

    def mixed(cwd):
        for wav, h in zip(WAVS, ("random", "missing", "empty", "truncated")):
            spoil(os.path.join(cwd, "assets", wav), h, os.path.join(ASSETS, wav))
    ok &= case("sound effects each broken differently", mixed, play_for=3)
    return ok


def controller_cases():
    ok = True

    def garbage(cwd):
        with open(os.path.join(cwd, "gamecontrollerdb.txt"), "wb") as f:
            f.write(bytes(rng.randrange(256) for _ in range(65536)))

    def huge(cwd):
        # 40 MiB of lines that look like mappings but are not.
        line = b"03000000ffffffffffffffffffffffff,Not A Pad,a:b0,b:b999999999999,x:,y:" + \
            b"q" * 120 + b",platform:Linux,\n"
        with open(os.path.join(cwd, "gamecontrollerdb.txt"), "wb") as f:
            block = line * ((1 << 20) // len(line) + 1)
            for _ in range(40):
                f.write(block)

    def directory(cwd):
        os.mkdir(os.path.join(cwd, "gamecontrollerdb.txt"))

    def unreadable(cwd):
        path = os.path.join(cwd, "gamecontrollerdb.txt")
        with open(path, "w") as f:
            f.write("not for you\n")
        os.chmod(path, 0)

    for name, setup in (("garbage", garbage), ("huge", huge), ("a directory", directory)):
        ok &= case(f"gamecontrollerdb.txt {name}", setup)
    if NOBODY_OK:
        ok &= case("gamecontrollerdb.txt without permissions", unreadable,
                   as_nobody=os.geteuid() == 0)
    return ok


def assets_cases():
    ok = True
    message = 'Fatal error: Unable to load music "assets/quietmoth.ogg", reason: '

    def remove(cwd):
        orbrun.cleanup(os.path.join(cwd, "assets"))

    def plain_file(cwd):
        remove(cwd)
        with open(os.path.join(cwd, "assets"), "w") as f:
            f.write("not a directory\n")

    def dangling(cwd):
        remove(cwd)
        os.symlink(os.path.join(cwd, "nowhere"), os.path.join(cwd, "assets"))

    def unreadable(cwd):
        os.chmod(os.path.join(cwd, "assets"), 0)

    for name, setup in (("missing", remove), ("a plain file", plain_file),
                        ("a dangling link", dangling)):
        ok &= case(f"assets {name}", setup, fatal=message)
    if NOBODY_OK:
        ok &= case("assets without permissions", unreadable, fatal=message,
                   as_nobody=os.geteuid() == 0)
    return ok


NOBODY_OK = orbrun.nobody_can_run(ORB, ASSETS, PROBE)


def main():
    t0 = time.monotonic()
    if not NOBODY_OK:
        print("skip the cases without permissions: running as root and the unprivileged user "
              "cannot reach the build")
    ok = music_cases()
    ok &= sfx_cases()
    ok &= controller_cases()
    ok &= assets_cases()
    print(f"files checked in {time.monotonic() - t0:.0f} s")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
