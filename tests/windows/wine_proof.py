#!/usr/bin/python3
"""The Windows package, unpacked, run under wine on its real path: the 64-bit
panel, the 32-bit adcard-host.exe, the simulated card's adcard.dll.

    xvfb-run -a -s "-screen 0 2560x1440x24 -dpi 96" /usr/bin/python3 tests/windows/wine_proof.py ZIP [--screenshot PNG]

Needs wine (64-bit, with wine32), h5py and xdotool. Ends with status 0 when every
check holds; prints figures (start to window, CPU while acquiring). With
--linux-review PROGRAM, adcard-review.exe's answers must equal PROGRAM's."""
import ctypes
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

import h5py
import numpy as np

FAILURES = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        FAILURES.append(what)


class X:
    """The few Xlib calls the proof needs, through ctypes (no python-xlib here)."""

    def __init__(self):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 3 + [ctypes.c_void_p]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x.XGetImage.restype = ctypes.c_void_p
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + [
            ctypes.c_ulong, ctypes.c_int]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        # A window may go between listing and asking: ignored, not fatal.
        self.on_error = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
        x.XSetErrorHandler(self.on_error)
        self.x, self.d = x, x.XOpenDisplay(None)
        if not self.d:
            sys.exit("wine_proof: no X display (run it under xvfb-run)")
        self.root = x.XDefaultRootWindow(self.d)

    def windows(self):
        """Viewable top-level windows as (id, x, y, width, height), the big ones."""
        root, parent, kids, n = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        self.x.XQueryTree(self.d, self.root, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(kids),
                          ctypes.byref(n))
        out = []
        for i in range(n.value):
            attrs = (ctypes.c_int * 64)()  # XWindowAttributes: x, y, width, height, ..., map_state at [23]
            if self.x.XGetWindowAttributes(self.d, kids[i], attrs) and attrs[23] == 2 and attrs[2] >= 200 and attrs[3] >= 100:  # IsViewable
                out.append((kids[i], attrs[0], attrs[1], attrs[2], attrs[3]))
        self.x.XFlush(self.d)
        return out

    def close(self, window):
        """What the close box does: WM_DELETE_WINDOW, as a window manager sends it."""
        protocols = self.x.XInternAtom(self.d, b"WM_PROTOCOLS", 0)
        delete = self.x.XInternAtom(self.d, b"WM_DELETE_WINDOW", 0)
        ev = (ctypes.c_long * 24)()  # XClientMessageEvent, a long per field on 64-bit
        ev[0], ev[3], ev[4], ev[5], ev[6] = 33, self.d, window, protocols, 32  # ClientMessage ... format
        ev[7], ev[8] = delete, 0  # data.l[0], data.l[1] = CurrentTime
        self.x.XSendEvent(self.d, window, 0, 0, ev)
        self.x.XFlush(self.d)

    def png(self, path):
        """What the screen shows, cut to the windows on its black, as a PNG file."""
        w, h = self.x.XDisplayWidth(self.d, 0), self.x.XDisplayHeight(self.d, 0)
        img = self.x.XGetImage(self.d, self.root, 0, 0, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        data = ctypes.cast(ctypes.c_void_p.from_address(img + 16).value, ctypes.POINTER(ctypes.c_ubyte))
        stride = ctypes.c_int.from_address(img + 44).value
        raw = np.ctypeslib.as_array(data, shape=(h * stride,)).reshape(h, stride)[:, : 4 * w].reshape(h, w, 4)
        ys, xs = np.nonzero(raw[:, :, :3].any(axis=2))
        raw = raw[ys.min(): ys.max() + 1, xs.min(): xs.max() + 1]
        h, w = raw.shape[:2]
        rows = b"".join(b"\0" + r.tobytes() for r in raw[:, :, 2::-1])  # BGRX to RGB
        chunk = lambda t, b: struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def wine_path(p):
    return "Z:" + p.replace("/", "\\")


def cpu_seconds(name):
    """User and system CPU of the running process whose command line names `name`."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = open(f"/proc/{pid}/cmdline", "rb").read().decode("utf-8", "replace")
            if name in cmd and "wine_proof" not in cmd:
                f = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
                return (int(f[11]) + int(f[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, IndexError):
            pass
    return None


def wait_window(x, proc, limit):
    """Seconds until a big window shows, or None when the program ended or the limit passed."""
    t0 = time.monotonic()
    while time.monotonic() - t0 < limit and proc.poll() is None:
        if x.windows():
            return time.monotonic() - t0
        time.sleep(0.05)
    return None


def blocks_in_order(path, expect_min, may_miss=False):
    """The file's blocks: indices 0, 1, ... with each block's own sequence number
    (the simulated card's sequence mode) equal to its index; nothing missed
    unless the driver crashed."""
    with h5py.File(path, "r") as f:
        rows = f["blocks"][:]
        s = int(f.attrs["scans_per_block"])
        samples = f["samples"]
        seq = [int(samples[i * s, 0]) | int(samples[i * s, 1]) << 12 for i in range(len(rows))]
        runs = f["runs"][:]
        stored = samples.shape[0]
    n = len(rows)
    return (n >= expect_min and list(rows["index"]) == list(range(n)) and seq == list(range(n)) and
            (may_miss or int(runs["missed"].sum()) == 0) and stored >= n * s), n


def hidden(path):
    """Whether Windows programs see the file as hidden: wine keeps the attributes a program set in the
    user.DOSATTRIB extended attribute ("0x22": archive and hidden)."""
    try:
        return int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16) & 0x2 != 0
    except OSError:
        return False


def left_beside(folder, name):
    """Files beside `name` whose names hold it: a temporary or a moved-aside file left behind."""
    return [f for f in os.listdir(folder) if name in f and f != name]


def closed_cleanly(path):
    """The superblock's flags say no writer has the file open (a crashed writer leaves them set)."""
    with open(path, "rb") as f:
        sb = f.read(12)
    return sb[:8] == b"\x89HDF\r\n\x1a\n" and sb[11] & 0x05 == 0


def review_answers(program, cwd, env, rec):
    """adcard-review's info, stats and spectrum of `rec` as parsed JSON, None (and its words) where it failed."""
    out = {}
    for ask in ("info", "stats", "stats --from 1 --to 4", "spectrum --from 1 --to 4 --full"):
        args = ask.split()
        p = subprocess.run(program + [args[0], rec, *args[1:], "--json"], cwd=cwd, env=env, capture_output=True,
                           timeout=120)
        out[ask] = json.loads(p.stdout) if p.returncode == 0 else None
        if p.returncode:
            print(f"     {program[-1]} {ask}: status {p.returncode}: {p.stderr.decode('utf-8', 'replace').strip()}")
    return out


def same(a, b):
    """Equal answers. Each prints the shortest text that reads back its double, so only the arithmetic
    may differ (another libm, FFTW's codelets): numbers within 1e-9 relative, or 1e-9 V."""
    if isinstance(a, dict):
        return isinstance(b, dict) and a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, float) or isinstance(b, float):
        return all(isinstance(v, (int, float)) for v in (a, b)) and math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9)
    return a == b


def main():
    zip_path = os.path.abspath(sys.argv[1])
    shot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", ADCARD_SIM_SEQUENCE="1")
    env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(zip_path), "wineprefix"))
    if not os.path.isdir(os.path.join(env["WINEPREFIX"], "drive_c")):
        subprocess.run(["wineboot", "-i"], env=env, check=True, capture_output=True)
    x = X()
    # A stop by signal (a test runner's timeout, Ctrl+C) still removes the folder.
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, lambda number, frame: sys.exit(128 + number))
    work = tempfile.mkdtemp(prefix="adcard wine 测试 ")
    status = 1
    try:
        status = proof(zip_path, shot, env, x, work)
    finally:
        if not remove_work(env, work):
            status = 1
    return status


def remove_work(env, work):
    """Removes the proof's folder once no program of the wine session can write into it any more: a
    Windows program that outlives its `wine` launcher (a timeout kills only the launcher) would
    otherwise put files back while the folder is being removed, and the removal, its errors ignored,
    left the folder behind. False, said, when something stays."""
    try:
        # Returns once every program of the prefix and the wine server itself have ended.
        subprocess.run(["wineserver", "-w"], env=env, timeout=60, capture_output=True)
    except subprocess.TimeoutExpired:
        print("     wine programs still running after 60 s; removing the folder anyway")
    except OSError:
        pass
    for _ in range(3):
        shutil.rmtree(work, ignore_errors=True)
        if not os.path.exists(work):
            return True
        time.sleep(1)
    check(False, f"the proof's temporary folder is removed ({work} stays)")
    return False


def proof(zip_path, shot, env, x, work):
    base = os.path.join(work, "面板 package")
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(base)
    pkg = os.path.join(base, "adcard-panel")
    for root, _, files in os.walk(pkg):
        for name in files:
            os.chmod(os.path.join(root, name), 0o755)
    sim = wine_path(os.path.join(pkg, "adcard-panel-sim.cmd"))
    panel = wine_path(os.path.join(pkg, "adcard-panel.exe"))
    rec = "记录 x.h5"

    # 1. An unattended recording on the simulated card, through the 32-bit host.
    p = subprocess.Popen(["wine", sim, "--start", "--stop-after", "5s", "--record", rec],
                         cwd=pkg, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    shown = wait_window(x, p, 60)
    time.sleep(1.5)
    c0 = cpu_seconds("adcard-panel.exe"), cpu_seconds("adcard-host.exe")
    time.sleep(2.0)
    c1 = cpu_seconds("adcard-panel.exe"), cpu_seconds("adcard-host.exe")
    out, err = p.communicate(timeout=120)
    check(p.returncode == 0, f"adcard-panel-sim.cmd --start --stop-after 5s --record exits 0 (got {p.returncode}: "
                             f"{err.decode('utf-8', 'replace').strip()[-300:]})")
    ok, n = blocks_in_order(os.path.join(pkg, rec), 35)
    check(ok, f"the recording holds every block in order ({n} blocks)")
    with h5py.File(os.path.join(pkg, rec), "r") as f:
        lib = f.attrs["driver_library"]
        lib = lib.decode() if isinstance(lib, bytes) else str(lib)
    check(lib.lower().endswith("sim\\adcard.dll"), f"the host loaded the simulated card's DLL ({lib})")
    if shown is not None and None not in c0 + c1:
        print(f"figure: start to window {shown:.2f} s; CPU while acquiring: panel "
              f"{(c1[0] - c0[0]) / 2 * 100:.0f} %, host {(c1[1] - c0[1]) / 2 * 100:.0f} % of a core")

    # adcard-review.exe on that recording, named as typed (not in the ANSI code page), against the
    # Linux adcard-review on the same file.
    win = review_answers(["wine", wine_path(os.path.join(pkg, "adcard-review.exe"))], pkg, env, rec)
    spectrum = win["spectrum --from 1 --to 4 --full"]
    check(None not in win.values() and win["info"]["runs"][0]["blocks"] == n and
          all(len(c["amplitude"]) > 1 for c in spectrum["channels"]) and spectrum["channels"],
          f"adcard-review.exe answers info, stats and a spectrum per channel on the {n} blocks")
    if "--linux-review" in sys.argv:
        linux = review_answers([sys.argv[sys.argv.index("--linux-review") + 1]], pkg, env, rec)
        differ = [ask for ask in win if not same(win[ask], linux[ask])]
        check(not differ, f"adcard-review.exe and the Linux adcard-review give the same numbers "
                          f"({'differing: ' + ', '.join(differ) if differ else 'all four answers'})")

    # The Linux panel on the same X server, for the figures.
    if "--linux-panel" in sys.argv:
        p = subprocess.Popen([sys.argv[sys.argv.index("--linux-panel") + 1], "--start", "--stop-after", "5s"],
                             env=dict(env, QT_QPA_PLATFORM="xcb"), stderr=subprocess.DEVNULL)
        shown = wait_window(x, p, 60)
        time.sleep(1.5)
        c0 = cpu_seconds("adcard-panel")
        time.sleep(2.0)
        c1 = cpu_seconds("adcard-panel")
        p.wait(timeout=60)
        if shown is not None and None not in (c0, c1):
            print(f"figure: Linux panel: start to window {shown:.2f} s; CPU while acquiring {(c1 - c0) / 2 * 100:.0f} %")

    # 2. The review window alone, ended by its close box.
    p = subprocess.Popen(["wine", panel, "--open", rec], cwd=pkg, env=env, stderr=subprocess.PIPE)
    shown = wait_window(x, p, 60)
    check(shown is not None, "adcard-panel.exe --open shows the review window")
    for w in x.windows():
        x.close(w[0])
    try:
        p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
    check(p.returncode == 0, f"the review window's close box ends it with status 0 (got {p.returncode})")

    files_and_exports(x, pkg, sim, panel, env, rec)

    # 3. The driver crashing mid-run: the host ends, the panel runs on to its
    # stop and closes the recording with every block that reached it.
    crash = dict(env, ADCARD_SIM_CRASH_ADRESULT="15")
    t0 = time.monotonic()
    p = subprocess.run(["wine", sim, "--start", "--stop-after", "5s", "--record", "crash.h5"],
                       cwd=pkg, env=crash, capture_output=True, timeout=120)
    took = time.monotonic() - t0
    said = p.stderr.decode("utf-8", "replace")
    check(took >= 5 and "adcard-host" in said, f"after the driver's crash the panel ran to its stop "
                                               f"({took:.1f} s, status {p.returncode}, said: {said.strip()[-200:]})")
    ok, n = blocks_in_order(os.path.join(pkg, "crash.h5"), 5, may_miss=True)
    check(ok and n < 15 and closed_cleanly(os.path.join(pkg, "crash.h5")),
          f"the recording is closed and holds the {n} blocks before the crash, in order")

    # 4. The picture: the panel and its history window, acquiring.
    if shot:
        p = subprocess.Popen(["wine", sim, "--start", "--history", "--stop-after", "9s"],
                             cwd=pkg, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_window(x, p, 60)
        time.sleep(4)
        ws = x.windows()
        if ws:
            x.png(shot)
        p.wait(timeout=60)
        check(len(ws) == 2, f"the panel and the history window drawn into {shot}")
    print("wine_proof: " + ("all checks hold" if not FAILURES else f"{len(FAILURES)} check(s) failed"))
    return 1 if FAILURES else 0


def files_and_exports(x, pkg, sim, panel, env, rec):
    """What the panel and its exports leave on a Windows disk, in folders named in Chinese."""
    review = ["wine", wine_path(os.path.join(pkg, "adcard-review.exe"))]
    folder = os.path.join(pkg, "导出 文件夹")
    os.makedirs(folder)

    # --overwrite, then a Start that fails: the old recording stays as it was, nothing beside it.
    old = open(os.path.join(pkg, rec), "rb").read()
    p = subprocess.run(["wine", sim, "--start", "--stop-after", "3s", "--record", rec, "--overwrite"], cwd=pkg,
                       env=dict(env, ADCARD_SIM_FAIL_STARTINTR="7"), capture_output=True, timeout=120)
    check(open(os.path.join(pkg, rec), "rb").read() == old and not left_beside(pkg, rec),
          f"--overwrite and a failed Start leave the old recording as it was (status {p.returncode}, "
          f"beside it: {left_beside(pkg, rec)})")
    # ... and one that starts replaces it with a file shown as any other.
    replaced = os.path.join(folder, "再次 " + rec)
    shutil.copy(os.path.join(pkg, rec), replaced)
    p = subprocess.run(["wine", sim, "--start", "--stop-after", "3s", "--record", os.path.relpath(replaced, pkg),
                        "--overwrite"],
                       cwd=pkg, env=env, capture_output=True, timeout=120)
    ok, n = blocks_in_order(replaced, 10)
    check(p.returncode == 0 and ok and not hidden(replaced) and not left_beside(folder, os.path.basename(replaced)),
          f"--overwrite with a run replaces the recording ({n} blocks), not hidden, nothing left beside it")

    # adcard-review.exe's export into the folder, over a file, and never over its source.
    csv = os.path.join(folder, "导出.csv")
    open(csv, "w").write("old\n")
    p = subprocess.run(review + ["export", rec, "--to", "1", "-o", os.path.relpath(csv, pkg), "--overwrite"],
                       cwd=pkg, env=env,
                       capture_output=True, timeout=120)
    check(p.returncode == 0 and open(csv).readline().startswith("time (s)") and not hidden(csv),
          f"adcard-review.exe export --overwrite replaces a CSV in a Chinese folder, not hidden "
          f"(status {p.returncode}, hidden {hidden(csv)})")
    p = subprocess.run(review + ["export", rec, "-o", os.path.join(".", rec), "--overwrite"], cwd=pkg, env=env,
                       capture_output=True, timeout=120)
    check(p.returncode == 2 and open(os.path.join(pkg, rec), "rb").read() == old,
          f"adcard-review.exe refuses to export onto its source, which stays whole (status {p.returncode})")

    # The review window's export (Ctrl+E, then the save dialog's own suggestion): the recording's
    # folder, named in Chinese, and a Chinese file name.
    shown = os.path.join(folder, "窗口 " + rec)
    shutil.copy(os.path.join(pkg, rec), shown)
    out = os.path.join(folder, os.path.splitext(os.path.basename(shown))[0] + "_run1.csv")
    p = subprocess.Popen(["wine", panel, "--open", os.path.relpath(shown, pkg)], cwd=pkg, env=env,
                         stderr=subprocess.DEVNULL)
    ok = wait_window(x, p, 60) is not None
    if ok:
        window = x.windows()[0][0]
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], env=env, timeout=30)
        time.sleep(1)
        subprocess.run(["xdotool", "key", "ctrl+e"], env=env, timeout=30)
        t0 = time.monotonic()
        while len(x.windows()) < 2 and time.monotonic() - t0 < 30:
            time.sleep(0.2)
        time.sleep(1.5)
        subprocess.run(["xdotool", "key", "Return"], env=env, timeout=30)
        t0 = time.monotonic()
        while not os.path.exists(out) and time.monotonic() - t0 < 30:
            time.sleep(0.2)
        time.sleep(1)
    for w in x.windows():
        x.close(w[0])
    try:
        p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
    rows = sum(1 for _ in open(out, encoding="utf-8")) - 1 if os.path.exists(out) else 0
    check(ok and rows > 0 and not hidden(out),
          f"the review window's CSV export writes into a folder named in Chinese ({rows} rows), not hidden")


if __name__ == "__main__":
    sys.exit(main())
