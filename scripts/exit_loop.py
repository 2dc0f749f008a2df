#!/usr/bin/env python3
"""Starts and ends the program over and over while a scripted board streams at it.

Each cycle runs the program under a private X server (with a window manager, so that
Alt+F4 closes windows as on a desktop), joined over a pty to a board that sends console
text, command frames (record reads sent back to back, never waiting for a reply) and
list characters without pause. After a random 0.3-3 s the program is ended by SIGTERM,
SIGINT, SIGHUP, two SIGTERMs 30 ms apart, or Alt+F4 on its main window. The delay is
counted from the main window's appearance, except for one cycle in ten, counted from the
start so that endings during the splash are tried too.

Reported: the time from the ending to the exit (distribution, runs over 1 s and over
10 s; a run still alive after 10 s is a hang, its threads' stacks are taken with gdb
when gdb is there, then it is killed), exit codes, crashes (an exit by a signal or
anything on stderr), and every PDF the jobs left, read with pdftotext: unreadable ones,
and ones whose lines are not the list lines the board sent, in order.

Not part of ./test.sh: 500 cycles take the better part of an hour.
    scripts/exit_loop.py --cycles 500 --display 58 --out exit_loop.log
"""

import argparse
import collections
import errno
import fcntl
import json
import os
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

ENDINGS = ["SIGTERM", "SIGINT", "SIGHUP", "SIGTERM x2", "Alt+F4"]
HANG_SECONDS = 10.0


def settings_record(work_folder: str, com_number: int) -> bytes:
    """The program's 604-byte settings record: English, the given port at 115200 baud."""
    folder = work_folder.encode("cp1252")
    if len(folder) > 255:
        raise SystemExit("working folder path too long for the settings record")
    rec = struct.pack("<BBHiiIIB", 2, 0, com_number, 115200, 10, 0x00C0C0C0, 0x00800000, 0)
    rec += bytes([6]) + b"1.01.0"
    rec += bytes([len(folder)]) + folder.ljust(255, b"\0")
    rec += bytes(310) + bytes(10)
    assert len(rec) == 604
    return rec


def name_block(name: str, ext: str) -> bytes:
    return b"\0" + name.encode().ljust(8) + ext.encode().ljust(3)


OPEN_FRAME = bytes([16, 17, 15]) + name_block("STREAM", "DAT")


def busy_round(line: int) -> bytes:
    """A console line, a list line (one frame per character) and three record reads."""
    out = b"console %06d\r\n" % line
    for c in b"L%06d\r\n" % line:
        out += bytes([16, 17, 5, c])
    out += (bytes([16, 17, 20]) + name_block("STREAM", "DAT")) * 3
    return out


class Board:
    """Streams rounds into the pty's master and drains whatever the program answers."""

    def __init__(self, master: int):
        self.master = master
        fcntl.fcntl(master, fcntl.F_SETFL, fcntl.fcntl(master, fcntl.F_GETFL) | os.O_NONBLOCK)
        self.stop = threading.Event()
        self.sender = threading.Thread(target=self._send_loop, daemon=True)
        self.reader = threading.Thread(target=self._read_loop, daemon=True)
        self.sender.start()
        self.reader.start()

    def _send(self, data: bytes):
        done = 0
        while done < len(data) and not self.stop.is_set():
            try:
                done += os.write(self.master, data[done:])
            except BlockingIOError:
                select.select([], [self.master], [], 0.01)
            except OSError as e:
                if e.errno == errno.EINTR:
                    continue
                # The program closed its end (EIO): keep trying quietly until stopped, a
                # new program may open the line again only in the next cycle.
                time.sleep(0.01)
                return

    def _send_loop(self):
        self._send(OPEN_FRAME)
        line = 1
        while not self.stop.is_set():
            self._send(busy_round(line))
            if line % 50 == 0:
                self._send(OPEN_FRAME)
            line += 1

    def _read_loop(self):
        while not self.stop.is_set():
            ready, _, _ = select.select([self.master], [], [], 0.02)
            if ready:
                try:
                    os.read(self.master, 4096)
                except OSError:
                    time.sleep(0.01)

    def close(self):
        self.stop.set()
        self.sender.join()
        self.reader.join()


def main_window(pid: int, env: dict) -> str:
    """The id of the program's visible main window, or an empty string."""
    result = subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", "MIRTE"],
        env=env, capture_output=True, text=True)
    for wid in result.stdout.split():
        geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], env=env, capture_output=True,
                                  text=True).stdout
        match = re.search(r"Geometry: (\d+)x(\d+)", geometry)
        # The splash has the product's name too, but not the main window's size.
        if match and int(match.group(1)) >= 500 and subprocess.run(
                ["xdotool", "getwindowname", wid], env=env, capture_output=True, text=True).stdout.startswith("MIRTE:"):
            return wid
    return ""


def pdf_check(path: str):
    """(readable, lines in order) of a job's PDF."""
    result = subprocess.run(["pdftotext", path, "-"], capture_output=True, text=True, errors="replace")
    if result.returncode != 0:
        return False, False, result.stderr.strip()
    lines = [re.sub(r"\s+", " ", l.replace("\f", "")).strip() for l in result.stdout.split("\n")]
    lines = [l for l in lines if l]
    # The board streams before the program has its port open, so the job may begin in
    # the middle of a line, and the program may end in the middle of one: the first and
    # last lines may be cut short, every other one follows its predecessor.
    numbers = [int(l[1:]) if re.fullmatch(r"L\d{6}", l) else None for l in lines[1:-1]]
    in_order = bool(lines) and None not in numbers and all(b == a + 1 for a, b in zip(numbers, numbers[1:]))
    return True, in_order, "" if in_order else "lines: %r" % lines[:4]


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def run_cycle(n, args, root, env, rng, log):
    prog = os.path.join(root, "prog")
    work = os.path.join(root, "work")
    home = env["HOME"]
    master, slave = os.openpty()
    slave_path = os.ttyname(slave)
    link = os.path.join(prog, "dosdevices", "com3")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(slave_path, link)
    with open(os.path.join(prog, "mirte.SET"), "wb") as f:
        f.write(settings_record(work, 3))

    ending = ENDINGS[n % len(ENDINGS)] if args.round_robin else rng.choice(ENDINGS)
    from_start = rng.random() < 0.1
    delay = rng.uniform(0.3, 3.0)
    stderr_path = os.path.join(root, "stderr.txt")
    board = Board(master)
    started = time.monotonic()
    with open(stderr_path, "wb") as err:
        proc = subprocess.Popen([os.path.join(prog, "mirte")], env=env, stdout=subprocess.DEVNULL, stderr=err,
                                cwd=work)
    os.close(slave)
    window = ""
    shown_after = None
    if not from_start or ending == "Alt+F4":
        deadline = time.monotonic() + 15
        while not window and time.monotonic() < deadline and proc.poll() is None:
            window = main_window(proc.pid, env)
            if not window:
                time.sleep(0.05)
        shown_after = time.monotonic() - started
    base = started if from_start else time.monotonic()
    time.sleep(max(0.0, base + delay - time.monotonic()))

    early_exit = proc.poll() is not None
    ended_at = time.monotonic()
    if not early_exit:
        if ending == "SIGTERM":
            proc.send_signal(signal.SIGTERM)
        elif ending == "SIGINT":
            proc.send_signal(signal.SIGINT)
        elif ending == "SIGHUP":
            proc.send_signal(signal.SIGHUP)
        elif ending == "SIGTERM x2":
            proc.send_signal(signal.SIGTERM)
            time.sleep(0.03)
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        else:
            if window:
                subprocess.run(["xdotool", "windowactivate", "--sync", window], env=env, capture_output=True,
                               timeout=5)
                ended_at = time.monotonic()
                subprocess.run(["xdotool", "key", "--clearmodifiers", "alt+F4"], env=env, capture_output=True,
                               timeout=5)

    hung = False
    stacks = ""
    seconds = None
    if not early_exit:
        try:
            proc.wait(timeout=3.0)
        except subprocess.TimeoutExpired:
            if shutil.which("gdb"):
                stacks = subprocess.run(["gdb", "-p", str(proc.pid), "-batch", "-ex", "thread apply all bt"],
                                        capture_output=True, text=True, errors="replace", timeout=60).stdout
            try:
                proc.wait(timeout=max(0.1, HANG_SECONDS - (time.monotonic() - ended_at)))
            except subprocess.TimeoutExpired:
                hung = True
                proc.kill()
                proc.wait()
        seconds = None if hung else time.monotonic() - ended_at
    board.close()
    os.close(master)

    with open(stderr_path, "rb") as f:
        stderr_text = f.read().decode("utf-8", "replace").strip()
    code = proc.returncode
    pdfs = []
    parts = []
    for folder in (work, home):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if name.endswith(".part"):
                parts.append(name)
                os.remove(path)
            elif name.endswith(".pdf"):
                readable, in_order, detail = pdf_check(path)
                pdfs.append({"name": name, "bytes": os.path.getsize(path), "readable": readable,
                             "in_order": in_order, "detail": detail})
                if readable and in_order or not args.keep_bad:
                    os.remove(path)
                else:
                    shutil.move(path, os.path.join(args.bad_folder, "%03d %s" % (n, name)))
    record = {"cycle": n, "ending": ending, "from_start": from_start, "delay": round(delay, 3),
              "window_after": None if shown_after is None else round(shown_after, 3),
              "ended_before_signal": early_exit, "exit_seconds": None if seconds is None else round(seconds, 4),
              "hung": hung, "code": code, "stderr": stderr_text[:2000], "pdfs": pdfs, "parts": parts}
    if stacks:
        record["stacks"] = stacks[-20000:]
    log.write(json.dumps(record) + "\n")
    log.flush()
    return record


def summary(records):
    out = []
    total = len(records)
    signalled = [r for r in records if not r["ended_before_signal"]]
    times = [r["exit_seconds"] for r in signalled if r["exit_seconds"] is not None]
    hangs = [r for r in signalled if r["hung"]]
    over1 = [r for r in signalled if r["hung"] or (r["exit_seconds"] or 0) > 1.0]
    over10 = hangs + [r for r in signalled if (r["exit_seconds"] or 0) > HANG_SECONDS]

    def expected_code(r):
        return r["code"] == 0 or (r["ending"] == "SIGTERM x2" and r["code"] == 143)

    crashes = [r for r in records if not r["hung"] and (r["code"] < 0 or r["stderr"])]
    odd_codes = [r for r in records if not r["hung"] and r["code"] >= 0 and not expected_code(r)]
    pdfs = [p for r in records for p in r["pdfs"]]
    unreadable = [p for p in pdfs if not p["readable"]]
    out_of_order = [p for p in pdfs if p["readable"] and not p["in_order"]]
    parts = [(r["cycle"], r["ending"], p) for r in records for p in r["parts"]]

    out.append("cycles: %d (ended by the loop: %d, ended on their own before it: %d)"
               % (total, len(signalled), total - len(signalled)))
    out.append("hangs (alive 10 s after the ending, killed): %d" % len(hangs))
    out.append("exits over 1 s: %d, over 10 s: %d" % (len(over1), len(over10)))
    if times:
        out.append("exit time s: min %.3f median %.3f p90 %.3f p99 %.3f max %.3f"
                   % (min(times), percentile(times, 50), percentile(times, 90), percentile(times, 99), max(times)))
    out.append("crashes (signal exit or stderr): %d" % len(crashes))
    for r in crashes[:10]:
        out.append("  cycle %d %s code %s stderr %r" % (r["cycle"], r["ending"], r["code"], r["stderr"][:200]))
    out.append("exit codes: %s" % dict(collections.Counter(r["code"] for r in records)))
    out.append("unexpected exit codes: %d" % len(odd_codes))
    out.append("PDFs: %d, unreadable: %d, readable but not the lines sent: %d"
               % (len(pdfs), len(unreadable), len(out_of_order)))
    for p in (unreadable + out_of_order)[:10]:
        out.append("  %s (%d bytes) %s" % (p["name"], p["bytes"], p["detail"]))
    out.append("hidden .part files left: %d %s" % (len(parts), collections.Counter(e for _, e, _ in parts)))
    out.append("by ending:")
    for ending in ENDINGS:
        rs = [r for r in signalled if r["ending"] == ending]
        ts = [r["exit_seconds"] for r in rs if r["exit_seconds"] is not None]
        out.append("  %-10s runs %3d  hangs %2d  >1s %2d  median %.3f  max %.3f  PDFs %d"
                   % (ending, len(rs), sum(r["hung"] for r in rs),
                      sum(1 for r in rs if r["hung"] or (r["exit_seconds"] or 0) > 1.0),
                      percentile(ts, 50), max(ts) if ts else float("nan"), sum(len(r["pdfs"]) for r in rs)))
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--program", default=os.path.join(here, "..", "build", "mirte"))
    parser.add_argument("--cycles", type=int, default=500)
    parser.add_argument("--display", type=int, default=58)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--out", default="exit_loop.log", help="one JSON line per cycle, then the summary")
    parser.add_argument("--round-robin", action="store_true", help="take the endings in turn, not at random")
    parser.add_argument("--keep-bad", action="store_true", help="keep failing PDFs in --bad-folder")
    parser.add_argument("--bad-folder", default="exit_loop_bad")
    args = parser.parse_args()
    for tool in ("Xvfb", "openbox", "xdotool", "pdftotext"):
        if not shutil.which(tool):
            raise SystemExit("%s is needed" % tool)
    if args.keep_bad:
        os.makedirs(args.bad_folder, exist_ok=True)
    # Under nohup a hang-up is ignored, and an ignored signal stays ignored in every program
    # started: the program would rightly take no notice of the loop's SIGHUP. A handler of
    # our own is reset to the default in the child, and still keeps the loop alive.
    for number in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM):
        if signal.getsignal(number) == signal.SIG_IGN:
            signal.signal(number, lambda *_: None)
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)

    root = tempfile.mkdtemp(prefix="mirte-exit-loop-")
    for sub in ("prog/dosdevices", "work", "home", "config", "runtime"):
        os.makedirs(os.path.join(root, sub), mode=0o700)
    # A copy of its own, so that a rebuild meanwhile changes nothing, with its settings
    # file and port link beside it.
    shutil.copy2(args.program, os.path.join(root, "prog", "mirte"))
    with open(os.path.join(root, "work", "STREAM.DAT"), "wb") as f:
        f.write(b"r" * 64 * 128)

    display = ":%d" % args.display
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_", "DBUS_"))}
    env.update({"DISPLAY": display, "HOME": os.path.join(root, "home"),
                "XDG_CONFIG_HOME": os.path.join(root, "config"), "XDG_RUNTIME_DIR": os.path.join(root, "runtime"),
                "QT_QPA_PLATFORM": "xcb"})
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    records = []
    try:
        with open(args.out, "w") as log:
            log.write(json.dumps({"seed": seed, "program": os.path.abspath(args.program),
                                  "load": os.getloadavg()}) + "\n")
            for n in range(args.cycles):
                records.append(run_cycle(n, args, root, env, rng, log))
                if (n + 1) % 25 == 0:
                    print("%d cycles, load %.2f" % (n + 1, os.getloadavg()[0]), file=sys.stderr, flush=True)
            text = summary(records)
            log.write("# load after: %.2f %.2f %.2f\n" % os.getloadavg())
            log.write("\n".join("# " + line for line in text.split("\n")) + "\n")
        print(text)
    finally:
        wm.terminate()
        xvfb.terminate()
        wm.wait()
        xvfb.wait()
        shutil.rmtree(root, ignore_errors=True)
    bad = [r for r in records if r["hung"] or r["code"] < 0 or r["stderr"]]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
