#!/usr/bin/env python3
"""The real program in a real X window: Xvfb, openbox, GL through zink on
llvmpipe, audio to SDL's disk driver. Checks what a player sees and hears,
from the logo to a restart and Escape, and the two asset failures.

Usage: e2e.py ORB_BINARY ASSETS_DIR [SCREENSHOT_OUT]
Every wait is bounded; every process started here is stopped on exit."""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ORB, ASSETS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
SHOT_OUT = sys.argv[3] if len(sys.argv) > 3 else None
SCREEN_W, SCREEN_H = 1024, 768
procs = []
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def cleanup():
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def wait_for(pred, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        r = pred()
        if r:
            return r
        time.sleep(step)
    return None


def free_display():
    base = 100 + os.getpid() % 500
    for n in range(base, base + 200):
        if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            return n
    raise SystemExit("no free X display number")


def start_x(env):
    n = free_display()
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
                             "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    procs.append(xvfb)
    if not wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{n}"), 20):
        raise SystemExit("Xvfb did not start")
    env["DISPLAY"] = f":{n}"
    wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    procs.append(wm)
    time.sleep(1)


def workdir(music=True, quietmoth=True, sfx=True):
    d = tempfile.mkdtemp(prefix="orb-e2e-")
    a = os.path.join(d, "assets")
    os.mkdir(a)
    for name in os.listdir(ASSETS):
        if name == "quietmoth.ogg" and not quietmoth:
            continue
        if name.endswith(".wav") and not sfx:
            continue
        if name.endswith(".ogg") and not music:
            continue
        os.symlink(os.path.join(ASSETS, name), os.path.join(a, name))
    return d


def start_orb(env, cwd, audio_file):
    e = dict(env)
    e["SDL_AUDIODRIVER"] = "disk"
    e["SDL_DISKAUDIOFILE"] = audio_file
    e["SDL_VIDEODRIVER"] = "x11"
    p = subprocess.Popen([ORB, "--window"], cwd=cwd, env=e, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    procs.append(p)
    return p


def xdotool(env, *args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          timeout=10).stdout


def find_window(env):
    out = wait_for(lambda: xdotool(env, "search", "--onlyvisible", "--name", "^Orb$").split(), 30)
    if not out:
        return None
    wid = out[0]
    geo = {}
    for line in xdotool(env, "getwindowgeometry", "--shell", wid).splitlines():
        k, _, v = line.partition("=")
        geo[k] = v
    return wid, int(geo["X"]), int(geo["Y"]), int(geo["WIDTH"]), int(geo["HEIGHT"])


class Shot:
    """A screenshot of the root window cropped to the program's window."""

    def __init__(self, env, win, keep=None):
        _, x, y, w, h = win
        png = keep or os.path.join(tmp, "shot.png")
        subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", png],
                       env=env, check=True, timeout=30)
        raw = subprocess.run(["convert", png, "-depth", "8", "rgb:-"], capture_output=True,
                             check=True, timeout=30).stdout
        self.w, self.h, self.px = w, h, raw

    def at(self, x, y):
        i = (y * self.w + x) * 3
        return self.px[i], self.px[i + 1], self.px[i + 2]

    def row_lit(self, y):
        """Share of the row's pixels that are not black."""
        lit = sum(1 for x in range(0, self.w, 2) if max(self.at(x, y)) > 40)
        return lit / (self.w / 2)

    def patch(self, cx, cy, hw, hh):
        return [self.at(x, y) for y in range(cy - hh, cy + hh) for x in range(cx - hw, cx + hw)]


def sprite_template(a, b, cx, cy, hw, hh):
    """The pixels of the patch that did not change between two frames: the
    sprite's own, since the plasma behind it moves on every frame."""
    pa, pb = a.patch(cx, cy, hw, hh), b.patch(cx, cy, hw, hh)
    return [(i, p) for i, (p, q) in enumerate(zip(pa, pb)) if p == q]


def best_x(shot, template, cy, hw, hh):
    """Where along row cy the sprite fits best (sum of absolute differences)."""
    best = None
    for cx in range(hw, shot.w - hw, 2):
        patch = shot.patch(cx, cy, hw, hh)
        d = sum(abs(p[0] - patch[i][0]) + abs(p[1] - patch[i][1]) + abs(p[2] - patch[i][2])
                for i, p in template)
        if best is None or d < best[0]:
            best = (d, cx)
    return best[1]


def static_cells(a, b):
    """Of the ten score cells on the middle row, how many keep over 6 % of their pixels (the glyphs are thin rings)."""
    n = 0
    for i in range(10):
        # Cell i spans x from i * 0.1 - 0.55 to i * 0.1 - 0.45 in the window's units.
        x0 = int((i * 0.1 - 0.55 + 1) / 2 * a.w) + 2
        x1 = int((i * 0.1 - 0.45 + 1) / 2 * a.w) - 2
        y0 = int((1 - 0.05) / 2 * a.h) + 2
        y1 = int((1 + 0.05) / 2 * a.h) - 2
        same = total = 0
        for y in range(y0, y1):
            for x in range(x0, x1):
                total += 1
                same += a.at(x, y) == b.at(x, y)
        n += same / total > 0.06
    return n


def wait_game(env, win):
    """Wait for the game's screen: the plasma lights the top of the window."""
    return wait_for(lambda: (lambda s: s.row_lit(s.h // 8) > 0.5 and s)(Shot(env, win)), 40, 0.3)


def stderr_of(p):
    """What the program wrote, without SDL's own notice about the disk driver."""
    text = p.stderr.read().decode(errors="replace")
    return "".join(l for l in text.splitlines(True) if not l.startswith("CRITICAL:"))


def audio_peak(path):
    if not os.path.exists(path):
        return 0
    with open(path, "rb") as f:
        data = f.read()
    n = len(data) // 2
    samples = struct.unpack(f"<{n}h", data[: n * 2])
    return max((abs(s) for s in samples), default=0)


def main():
    global tmp
    tmp = tempfile.mkdtemp(prefix="orb-e2e-run-")
    env = dict(os.environ)
    env["XDG_RUNTIME_DIR"] = os.path.join(tmp, "xdg")
    os.mkdir(env["XDG_RUNTIME_DIR"], 0o700)
    env["MESA_LOADER_DRIVER_OVERRIDE"] = "zink"
    env["LIBGL_ALWAYS_SOFTWARE"] = "1"
    env.pop("SDL_VIDEODRIVER", None)
    start_x(env)

    # --- a whole session with every asset -------------------------------
    audio = os.path.join(tmp, "audio.raw")
    cwd = workdir()
    orb = start_orb(env, cwd, audio)
    win = find_window(env)
    if not check(win is not None, "the window \"Orb\" appears"):
        return
    _, _, _, w, h = win
    check((w, h) == (800, 600), f"the window is 800x600 ({w}x{h})")

    # The logo screen starts with the first frame, about when the window
    # shows; its hold lies between 3.3 s and 6.7 s after that.
    t_win = time.monotonic()
    wait_for(lambda: time.monotonic() - t_win > 5.0, 10)
    logo = Shot(env, win, os.path.join(tmp, "logo.png"))
    band = [logo.row_lit(y) for y in (h // 2 - 20, h // 2, h // 2 + 20)]
    outside = [logo.row_lit(y) for y in (10, h // 4 - 10, 3 * h // 4 + 10, h - 10)]
    check(max(band) > 0.2, f"the logo band is visible during the hold (rows lit {band})")
    check(max(outside) < 0.02, f"outside the band the window is black (rows lit {outside})")

    # The game begins after the fade-out: the plasma lights the whole window.
    game = wait_game(env, win)
    check(bool(game), f"the game screen follows the logo ({time.monotonic() - t_win:.1f} s)")
    check(orb.poll() is None, "the program still runs after the logo")
    a = Shot(env, win, os.path.join(tmp, "game-a.png"))
    time.sleep(0.4)
    b = Shot(env, win, os.path.join(tmp, "game-b.png"))
    check(a.px != b.px, "the game screen animates")
    peak = audio_peak(audio)
    check(peak > 1000, f"music reaches the audio output (peak {peak})")

    # The adult starts in the middle and stays there without keys.
    cx, cy = w // 2, h // 2
    hw, hh = int(0.07 * w / 2), int(0.07 * h / 2)
    adult = sprite_template(a, b, cx, cy, hw, hh)
    check(len(adult) > hw * hh // 4, f"the adult stands still in the middle ({len(adult)} still pixels)")
    before = static_cells(a, b)
    check(before < 10, f"no score while playing ({before} static cells)")

    # A held Right key moves it right. On a loaded machine the screenshots
    # above can take long enough for a virus to reach the adult first; then
    # the score stands still on screen, and the move is tried again in the
    # next game, whose adult starts in the middle too.
    for attempt in range(3):
        xdotool(env, "windowactivate", "--sync", win[0])
        xdotool(env, "keydown", "Right")
        time.sleep(0.5)
        xdotool(env, "keyup", "Right")
        time.sleep(0.2)
        moved = Shot(env, win, os.path.join(tmp, "moved.png"))
        mx = best_x(moved, adult, cy, hw, hh)
        if mx - cx > 20:
            break
        time.sleep(0.3)
        if static_cells(moved, Shot(env, win)) != 10:
            break
        print(f"     caught before the move ({attempt + 1}): trying again in a new game", flush=True)
        time.sleep(1.2)
        xdotool(env, "key", "space")
        time.sleep(0.8)
    check(mx - cx > 20, f"a held Right key moves the adult right (by {mx - cx} px)")
    if SHOT_OUT:
        shutil.copy(os.path.join(tmp, "moved.png"), SHOT_OUT)

    # Then no more keys: sooner or later a seen virus rises into the adult
    # and the score shows.
    def score_shown():
        s1 = Shot(env, win)
        time.sleep(0.3)
        s2 = Shot(env, win, os.path.join(tmp, "waiting.png"))
        return static_cells(s1, s2) == 10 and s2
    t_game = time.monotonic()
    score = wait_for(score_shown, 150, step=0.2)
    check(bool(score), f"the score digits appear in the middle band ({time.monotonic() - t_game:.1f} s)")
    if score:
        shutil.copy(os.path.join(tmp, "waiting.png"), os.path.join(tmp, "score.png"))
        time.sleep(1.2)
        xdotool(env, "windowactivate", "--sync", win[0])
        xdotool(env, "key", "space")
        time.sleep(0.8)
        s1 = Shot(env, win)
        time.sleep(0.3)
        s2 = Shot(env, win, os.path.join(tmp, "restart.png"))
        check(static_cells(s1, s2) < 10, "a key after one second starts a new game")
        rx = best_x(s2, adult, cy, hw, hh)
        check(abs(rx - cx) <= 4, f"the new game's adult is in the middle ({rx - cx} px off)")

    xdotool(env, "key", "Escape")
    try:
        rc = orb.wait(10)
    except subprocess.TimeoutExpired:
        rc = None
    check(rc == 0, f"Escape ends the program with status 0 ({rc})")
    err = stderr_of(orb)
    check("Fatal" not in err, "no fatal message during the session")

    # --- no logo tune: fatal on entering the logo screen -----------------
    cwd = workdir(quietmoth=False)
    p = start_orb(env, cwd, os.path.join(tmp, "audio2.raw"))
    try:
        rc = p.wait(30)
    except subprocess.TimeoutExpired:
        rc = None
    err = stderr_of(p)
    check(rc == 1, f"a missing logo tune ends with status 1 ({rc})")
    check(err.startswith('Fatal error: Unable to load music "assets/quietmoth.ogg", reason: "'),
          f"with the fatal load message ({err.strip()!r})")

    # --- no sound effects: silent but running -----------------------------
    cwd = workdir(sfx=False)
    p = start_orb(env, cwd, os.path.join(tmp, "audio3.raw"))
    win = find_window(env)
    check(win is not None, "without sound effects the window appears")
    started = win and wait_game(env, win)
    alive = p.poll() is None
    check(bool(started) and alive, "without sound effects the game runs")
    if alive and win:
        s1 = Shot(env, win)
        time.sleep(0.3)
        s2 = Shot(env, win)
        check(s1.px != s2.px, "without sound effects the game screen animates")
        xdotool(env, "windowactivate", "--sync", win[0])
        xdotool(env, "key", "Escape")
    try:
        rc = p.wait(10)
    except subprocess.TimeoutExpired:
        rc = None
    err = stderr_of(p)
    check(rc == 0 and err == "", f"and ends with status 0 and nothing printed ({rc}, {err!r})")


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))
    try:
        main()
    finally:
        cleanup()
        print(f"screenshots in {tmp}" if "tmp" in globals() else "", flush=True)
    sys.exit(1 if failures else 0)
