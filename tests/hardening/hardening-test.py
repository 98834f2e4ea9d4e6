#!/usr/bin/env python3
# The real program against what a player, a packager or a broken disk can do
# to it: odd command lines, broken or missing files, no display. Each start
# runs in a scratch directory holding links to the assets, on SDL's offscreen
# video driver (asked for) and dummy audio, with the frame probe of
# bench/whole/swapwatch.c preloaded.
#
# A start passes when it either presents a frame and then, stopped with
# SIGTERM (which SDL turns into a quit), ends with status 0 having said
# nothing fatal; or ends by itself with status 1 and exactly one
# "Fatal error: " line, the expected one where a case names it. Never a
# signal, an assertion or a sanitizer report.
#
# Usage: hardening-test.py ORB ASSETS PROBE argv COUNT [SEED] | files | no-display
import mmap, os, pathlib, random, shutil, signal, struct, subprocess, sys, tempfile, time
from concurrent.futures import ThreadPoolExecutor

ORB, ASSETS, PROBE, MODE = *map(os.path.abspath, sys.argv[1:4]), sys.argv[4]
# Permission bits do not stop root: the case that needs them runs as nobody.
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"] if os.geteuid() == 0 else []
rng = random.Random(int(sys.argv[6]) if len(sys.argv) > 6 else 1205)


# One start; returns what went wrong, or None. fatal: the message it must end
# with; quiet: it must print nothing; speed: how much faster its clock runs
# (the game's music starts after the logo); video: the SDL driver asked for;
# play: seconds it plays before SIGTERM, after which it must end within quit.
def start(args=(b"--window", b"64x48"), setup=None, fatal=None, quiet=False, speed=1,
          video="offscreen", nobody=False, play=0, quit=30):
    d = tempfile.mkdtemp(prefix="orb-hard-")
    try:
        os.chmod(d, 0o755)
        shutil.copytree(ASSETS, f"{d}/assets")
        if setup:
            setup(d)
        pathlib.Path(f"{d}/watch").write_bytes(bytes(mmap.PAGESIZE))
        os.chmod(f"{d}/watch", 0o666)
        env = dict(os.environ, SDL_VIDEODRIVER=video or "", SDL_AUDIODRIVER="dummy", XDG_RUNTIME_DIR=d,
                   LD_PRELOAD=PROBE, SWAPWATCH_FILE=f"{d}/watch", SWAPWATCH_SPEED=str(speed),
                   ASAN_OPTIONS="detect_leaks=0:verify_asan_link_order=0:allocator_may_return_null=1")
        for name in ("DISPLAY", "WAYLAND_DISPLAY") + ("SDL_VIDEODRIVER",) * (not video):
            env.pop(name, None)
        with open(f"{d}/watch", "r+b") as f, open(f"{d}/err", "w+b") as err:
            probe = mmap.mmap(f.fileno(), mmap.PAGESIZE)
            p = subprocess.Popen(NOBODY * nobody + [ORB, *args], cwd=d, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=err)
            framed, end = False, time.monotonic() + 60
            while p.poll() is None and time.monotonic() < end:
                if not fatal and not framed and struct.unpack_from("=Q", probe, 8)[0]:  # frames shown
                    time.sleep(play)
                    framed, end = True, time.monotonic() + quit
                    p.send_signal(signal.SIGTERM)
                time.sleep(0.02)
            p.kill() if p.poll() is None else None
            p.wait()
        text = pathlib.Path(f"{d}/err").read_text(errors="replace")
    finally:
        shutil.rmtree(d, ignore_errors=True)
    fatals = [line for line in text.splitlines() if line.startswith("Fatal error: ")]
    ok = (p.returncode == 0 and not fatals and not (quiet and text)) if framed else \
        (p.returncode == 1 and len(fatals) == 1 and fatals[0].startswith(fatal or "Fatal error: "))
    if ok and not any(report in text for report in ("ERROR: ", "runtime error:", "Assertion", "Segmentation")):
        return None
    return f"{'stopped at its first frame' if framed else 'ended'}: status {p.returncode}, {text[-1500:]!r}"


# Argument vectors around the one switch and its size, and noise. Most start
# with a form of the switch: any other first word means full screen, the
# slowest start.
def argv_cases(count):
    switch = [b"--window", b"--WINDOW", b"--wInDoW", b"-window", b"--window=64x48"]
    sizes = [b"64x48", b"0x0", b"16384x64", b"64x16385", b"-1x-1", b"4294967296x9", b"99999999999999999999x8",
             b"64x", b"x48", b"1.5x2.5", b"%s%n%x", b" 64 x 48", "٦٤x٤٨".encode()]
    for i in range(count):
        words = [rng.choice(sizes) if rng.random() < 0.7 else bytes(  # no NUL in an argument
            rng.randrange(1, 256) for _ in range(rng.choice([0, 1, 9, 300, 131071]))) for _ in range(4)]
        if rng.random() < 0.8:
            words[0] = rng.choice(switch)
        words = words[:rng.choice([1, 2, 2, 2, 3, 4])]
        yield f"vector {i} {[w[:40] for w in words]}", dict(args=words)


# Makes each named file or directory (relative to the working directory)
# missing, empty, cut short, garbage, a directory, a dangling link or an
# unreadable directory.
def broken(names, how):
    def setup(d):
        for path in (f"{d}/{name}" for name in names):
            data = open(path, "rb").read() if os.path.isfile(path) else b""
            if os.path.lexists(path):
                shutil.rmtree(path) if os.path.isdir(path) else os.unlink(path)
            if how == "a dangling link":
                os.symlink(f"{d}/nowhere", path)
            elif how in ("a directory", "unreadable"):
                os.mkdir(path, 0 if how == "unreadable" else 0o755)
            elif how != "missing":
                with open(path, "wb") as f:
                    f.write({"empty": b"", "cut short": data[:200], "garbage": rng.randbytes(8192)}[how])
    return setup


def files_cases():
    music = 'Fatal error: Unable to load music "assets/{}"'.format
    effects = [f"assets/{e}.wav" for e in ("baby-infected", "baby-held", "baby-rescued", "adult-infected")]
    for how in ("missing", "empty", "cut short", "garbage"):
        for m in ("quietmoth.ogg", "game.ogg"):
            yield f"{m} {how}", dict(setup=broken([f"assets/{m}"], how), speed=20, fatal=music(m))
        yield f"every effect {how}", dict(setup=broken(effects, how), quiet=True)
    for how in ("garbage", "a directory"):
        yield f"gamecontrollerdb.txt {how}", dict(setup=broken(["gamecontrollerdb.txt"], how))
    reachable = subprocess.run(NOBODY + ["test", "-x", ORB, "-a", "-r", PROBE]).returncode == 0
    for how in ("garbage", "a dangling link") + ("unreadable",) * reachable:
        yield f"assets {how}", dict(setup=broken(["assets"], how), nobody=how == "unreadable",
                                    fatal=music("quietmoth.ogg"))


cases = {"argv": lambda: argv_cases(int(sys.argv[5])), "files": files_cases,
         "no-display": lambda: [("no display", dict(video=None, fatal="Fatal error: No display")),
                                ("offscreen asked for, 3 s of full screen", dict(args=[], play=3, quit=5))]}[MODE]()
with ThreadPoolExecutor(max_workers=2) as pool:
    results = list(pool.map(lambda case: (case[0], start(**case[1])), cases))
print("\n".join(f"FAIL {name}: {problem}" if problem else f"ok   {name}" for name, problem in results))
sys.exit(any(problem for _, problem in results))
