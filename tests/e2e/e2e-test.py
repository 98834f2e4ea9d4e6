#!/usr/bin/env python3
# The real program in real windows, checked by screenshots as a player sees it.
#
# x11: inside the preview's X session (tools/preview/xsession.sh: Xvfb,
# openbox, GL through zink on lavapipe), audio to SDL's disk driver. The game
# runs without the four sound-effect files, which must go unnoticed, and is
# played from the logo to a caught adult, a restart and Escape. Then a missing
# logo tune must stop the program.
#
# wayland: a headless sway of its own (pixman renderer; Mesa's software GL for
# the game) at output scale 1, then 2, the game run as a player in a
# Wayland-only session runs it: no DISPLAY, no SDL_VIDEODRIVER. At each scale
# the logo screen is opaque black around its band, play fills the window in
# full detail (at scale 2 the drawable is twice the window), a held key moves
# the adult, a resize reaches the viewport and Escape exits 0. sway refuses to
# run as root; then it runs as the unprivileged user, and the game and the
# tools, as root, reach its sockets in its private runtime folder. wtype types
# through sway's virtual-keyboard protocol.
#
# Usage: xsession.sh 1024x768 python3 e2e-test.py x11 ORB_BINARY ASSETS_DIR
#        e2e-test.py wayland ORB_BINARY ASSETS_DIR
# With ORB_E2E_KEEP=DIR the named screenshots are kept there as PPM files;
# nothing else is left behind.

import atexit
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

KIND, ORB, ASSETS = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
TMP = tempfile.mkdtemp(prefix="orb-e2e-")
failures, procs = [], []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    failures.extend([] if cond else [what])
    return cond


# At exit, however it comes: every process started stops, the scratch folder goes.
@atexit.register
def cleanup():
    for p in reversed(procs):
        p.kill()
        p.wait()
    shutil.rmtree(TMP, ignore_errors=True)


def wait_for(pred, timeout, step=0.2):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if r := pred():
            return r
        time.sleep(step)


# The program in a folder of its own whose assets are ASSETS_DIR's less SKIP.
def start(env, skip=(), args=("--window",)):
    d = tempfile.mkdtemp(dir=TMP)
    os.mkdir(os.path.join(d, "assets"))
    for name in set(os.listdir(ASSETS)) - set(skip):
        os.symlink(os.path.join(ASSETS, name), os.path.join(d, "assets", name))
    procs.append(subprocess.Popen([ORB, *args], cwd=d, env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE))
    return procs[-1]


# Exit status and what the program printed, less SDL's own notices. A program
# still running after TIMEOUT seconds ends the run (TimeoutExpired).
def ended(p, timeout=15):
    err = p.communicate(timeout=timeout)[1].decode(errors="replace").splitlines(True)
    return p.returncode, "".join(l for l in err if not l.startswith("CRITICAL:"))


class Shot:
    # A screenshot in binary PPM, as grim and ImageMagick write it.
    def __init__(self, ppm, name=None):
        _, size, _, self.px = ppm.split(b"\n", 3)
        self.w, self.h = map(int, size.split())
        if name and os.environ.get("ORB_E2E_KEEP"):
            with open(os.path.join(os.environ["ORB_E2E_KEEP"], name + ".ppm"), "wb") as f:
                f.write(ppm)

    def at(self, x, y):
        return tuple(self.px[(y * self.w + x) * 3:(y * self.w + x) * 3 + 3])

    # Share of the pixels that are not black in a box given in fractions of the window.
    def lit(self, x0, y0, x1, y1):
        pts = [(x, y) for y in range(int(y0 * self.h), int(y1 * self.h), 3)
               for x in range(int(x0 * self.w), int(x1 * self.w), 3)]
        return sum(max(self.at(x, y)) > 40 for x, y in pts) / len(pts)

    # Lit along each edge: the picture reaches all four sides of the window.
    def fills(self):
        return min(self.lit(*box) for box in ((0, 0, 1, .04), (0, .96, 1, 1), (0, 0, .04, 1),
                                              (.96, 0, 1, 1))) > .5

    # Share of the even columns equal to the next one: near 1 when a picture of
    # half the window's size in pixels was stretched over it.
    def blocky(self):
        pts = [(x, y) for y in range(0, self.h, 3) for x in range(0, self.w - 1, 2)]
        return sum(self.at(x, y) == self.at(x + 1, y) for x, y in pts) / len(pts)

    def patch(self, cx, cy, hw, hh):
        return [self.at(x, y) for y in range(cy - hh, cy + hh) for x in range(cx - hw, cx + hw)]


# Of the ten score cells across the middle, how many keep over 6 % of their
# pixels between two shots while the plasma behind them moves.
def static_cells(a, b):
    n = 0
    for i in range(10):
        x0, x1 = int((i * .1 + .45) / 2 * a.w) + 2, int((i * .1 + .55) / 2 * a.w) - 2
        pts = [(x, y) for y in range(int(.475 * a.h) + 2, int(.525 * a.h) - 2) for x in range(x0, x1)]
        n += sum(a.at(x, y) == b.at(x, y) for x, y in pts) > .06 * len(pts)
    return n


# Two shots 0.3 s apart.
def pair(sess, name=None):
    s = sess.shot()
    time.sleep(0.3)
    return s, sess.shot(name)


def score_shown(sess):
    return static_cells(*pair(sess)) == 10


# A key one second after the score shows: two shots of the new game.
def new_game(sess):
    time.sleep(1.2)
    sess.tap("space")
    time.sleep(0.8)
    return pair(sess, "restart")


# Where along the middle row the adult's picture fits best.
def adult_x(shot, adult, hw, hh):
    def cost(cx):
        patch = shot.patch(cx, shot.h // 2, hw, hh)
        return sum(sum(abs(p - q) for p, q in zip(px, patch[i])) for i, px in adult)
    return min(range(hw, shot.w - hw, 2), key=cost)


# From the window's appearance: the logo band during the hold (3.3 s to 6.7 s),
# then the game; returns two shots of the game.
def logo_and_game(sess, p):
    t_win = time.monotonic()
    time.sleep(5)
    logo = sess.shot("logo")
    band, outside = logo.lit(0, .45, 1, .55), max(logo.lit(0, y, 1, y + .07) for y in (0, .3, .63, .93))
    check(band > .15, f"the logo band is lit in the middle during the hold ({band:.2f})")
    check(outside < .02, f"above and below its quarter the window is black ({outside:.2f})")
    game = wait_for(lambda: sess.shot().lit(0, 0, 1, .25) > .5, 40, 0.3)
    check(game and p.poll() is None, f"the game follows the logo ({time.monotonic() - t_win:.1f} s)")
    a, b = pair(sess, "play")
    check(a.px != b.px, "the game screen animates")
    return a, b


# The adult stands in the middle and a held Right key moves it. Returns the
# adult's picture: the pixels of the middle that stayed the same over three
# shots while the plasma behind moved, less the dark ones (the plasma stays
# black for a while in its troughs). On a loaded machine a virus can reach the
# adult before the key does; then the move is tried in the next game.
def still_middle(shots):
    a = shots[0]
    cx, cy, hw, hh = a.w // 2, a.h // 2, int(.035 * a.w), int(.035 * a.h)
    return [(i, p) for i, (p, q, r) in enumerate(zip(*(s.patch(cx, cy, hw, hh) for s in shots)))
            if p == q == r and max(p) > 40]


def moves_right(sess, a, b):
    cx, hw, hh = a.w // 2, int(.035 * a.w), int(.035 * a.h)
    time.sleep(0.5)
    adult = still_middle((a, b, sess.shot()))
    check(len(adult) > hw * hh // 4, f"the adult stands still in the middle ({len(adult)} pixels)")
    check(static_cells(a, b) < 10, "no score while playing")
    for attempt in range(6):
        sess.hold("Right", 0.3)
        dx = adult_x(sess.shot("moved"), adult, hw, hh) - cx
        if dx > a.w // 40:
            break
        if score_shown(sess):
            print(f"     caught before the move ({attempt + 1}): trying again in a new game")
            new_game(sess)
    check(dx > a.w // 40, f"a held Right key moves the adult right (by {dx} px)")
    return adult


# ---- X11

class X11:
    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10).stdout

    def find(self):
        self.id = (wait_for(lambda: self.xdotool("search", "--onlyvisible", "--name", "^Orb$").split(), 30)
                   or [None])[0]
        return self.id

    def shot(self, name=None):
        return Shot(subprocess.run(["import", "-silent", "-window", self.id, "-depth", "8", "ppm:-"],
                                   capture_output=True, check=True, timeout=30).stdout, name)

    def hold(self, key, secs):
        self.xdotool("windowactivate", "--sync", self.id, "keydown", key, "sleep", str(secs), "keyup", key)

    def tap(self, key):
        self.xdotool("windowactivate", "--sync", self.id, "key", key)


def main_x11():
    audio = os.path.join(TMP, "audio.raw")
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=audio, SDL_VIDEODRIVER="x11")
    sess = X11()
    p = start(env, skip=[name for name in os.listdir(ASSETS) if name.endswith(".wav")])
    if not check(sess.find(), "the window \"Orb\" appears"):
        return
    first = sess.shot()
    check((first.w, first.h) == (800, 600), f"--window gives 800x600 ({first.w}x{first.h})")
    a, b = logo_and_game(sess, p)
    data = open(audio, "rb").read()
    peak = max(map(abs, struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])), default=0)
    check(peak > 1000, f"music reaches the audio output (peak {peak})")
    adult = moves_right(sess, a, b)

    # No more keys: sooner or later a seen virus rises into the adult.
    t = time.monotonic()
    check(wait_for(lambda: score_shown(sess), 150),
          f"the score digits appear in the middle band ({time.monotonic() - t:.1f} s)")
    s1, s2 = new_game(sess)
    check(static_cells(s1, s2) < 10, "a key after one second starts a new game")
    time.sleep(0.3)
    still = len(still_middle((s1, s2, sess.shot())))
    check(still > len(adult) // 2, f"the new game's adult stands in the middle ({still} pixels)")
    sess.tap("Escape")
    rc, err = ended(p)
    check(rc == 0 and err == "", f"without sound effects nothing is printed; Escape exits 0 ({rc} {err!r})")

    rc, err = ended(start(env, skip=["quietmoth.ogg"]))
    check(rc == 1 and err.startswith('Fatal error: Unable to load music "assets/quietmoth.ogg", reason: "')
          and err.count("\n") == 1, f"a missing logo tune is fatal ({rc}, {err!r})")


# ---- Wayland

CONFIG = ("output HEADLESS-1 resolution 1024x768\nxwayland disable\ndefault_border none\n"
          "default_floating_border none\nfor_window [title=\"^Orb$\"] floating enable\n")


class Sway:
    def __init__(self):
        os.chmod(TMP, 0o711)
        run = tempfile.mkdtemp(dir=TMP)
        open(os.path.join(run, "config"), "w").write(CONFIG)
        drop = [] if os.geteuid() else ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
        if drop:
            os.chown(run, 65534, 65534)
        self.env = dict(PATH=os.environ["PATH"], XDG_RUNTIME_DIR=run, WLR_BACKENDS="headless",
                        WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")
        procs.append(subprocess.Popen([*drop, "sway", "-c", os.path.join(run, "config")],
                                      env=dict(self.env, HOME=run), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        ipc = wait_for(lambda: glob.glob(os.path.join(run, "sway-ipc.*")), 20)
        self.env.update(SWAYSOCK=ipc[0], WAYLAND_DISPLAY=glob.glob(os.path.join(run, "wayland-*[0-9]"))[0])

    def tool(self, *args):
        return subprocess.run(args, env=self.env, capture_output=True, timeout=20).stdout

    def find(self):
        def orb(node):
            return node if node.get("name") == "Orb" else next(
                filter(None, map(orb, node["nodes"] + node["floating_nodes"])), None)
        node = wait_for(lambda: orb(json.loads(self.tool("swaymsg", "-t", "get_tree"))), 30)
        self.rect = node and [node["rect"][k] for k in ("x", "y", "width", "height")]
        return node

    def shot(self, name=None):
        x, y, w, h = self.rect
        return Shot(self.tool("grim", "-t", "ppm", "-g", f"{x},{y} {w}x{h}", "-"),
                    name and f"{name}-{self.scale}")

    def hold(self, key, secs):
        self.tool("wtype", "-P", key, "-s", str(int(secs * 1000)), "-p", key)

    def tap(self, key):
        self.tool("wtype", "-k", key)


def main_wayland():
    sess = Sway()
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "SDL_VIDEODRIVER")}
    env.update(sess.env, SDL_AUDIODRIVER="dummy", LIBGL_ALWAYS_SOFTWARE="1")
    for sess.scale in (1, 2):
        sess.tool("swaymsg", "output", "HEADLESS-1", "scale", str(sess.scale))
        # A keyboard plugged in before the game starts and for its run alone: SDL
        # 2.26 crashes on a seat that has none, or whose last one went away.
        keyboard = subprocess.Popen(["wtype", "-s", "600000"], env=sess.env)
        procs.append(keyboard)
        time.sleep(0.3)
        p = start(env, args=("--window", "400x300"))
        node = sess.find()
        if not check(node and node["shell"] == "xdg_shell", f"scale {sess.scale}: a Wayland window opens"):
            return
        a, b = logo_and_game(sess, p)
        check(a.w == 400 * sess.scale and b.fills() and b.blocky() < .5,
              f"play fills the {a.w}x{a.h} pixels of the window in full detail ({b.blocky():.2f})")
        moves_right(sess, a, b)
        sess.tool("swaymsg", '[title="^Orb$"]', "resize", "set", "300", "360")
        wait_for(lambda: sess.find() and sess.rect[2:] == [300, 360], 10)
        time.sleep(0.5)
        c = sess.shot("resized")
        check(c.w == 300 * sess.scale and c.fills(), f"resized to 300x360, play fills it ({c.w}x{c.h})")
        sess.tap("Escape")
        rc, err = ended(p)
        check(rc == 0 and "Fatal" not in err, f"Escape exits 0 ({rc}, {err!r})")
        keyboard.kill()


if __name__ == "__main__":
    {"x11": main_x11, "wayland": main_wayland}[KIND]()
    sys.exit(1 if failures else 0)
