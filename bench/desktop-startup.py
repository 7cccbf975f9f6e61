#!/usr/bin/env python3
"""Start-up benchmark of the desktop program.

Usage: bench/desktop-startup.py <path of tolva-music-transfer> [starts]

Starts the program several times on a private X server and session bus, each time with a fresh
temporary home (settings with "FirstRun" = 0 and no logon entry, so the settings window shows at
start), and measures:
  - the time from starting the process to the first mapped top-level window titled
    "Tolva Music Transfer" (median of the starts),
  - its resident memory (VmRSS) after 5 s of idling,
  - its wake-ups per second while idle: the growth of the voluntary and involuntary context
    switches of all its threads over 10 s, divided by 10.
Prints one result line per figure in the form scripts/bench.sh collects:
  BENCH<TAB>name<TAB>ours<TAB>peer<TAB>ratio<TAB>unit and note
There is no peer program to compare with, so peer and ratio are "-".
"""

import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TITLE = "Tolva Music Transfer"
KEY = "Software\\Brenvik Corporation\\TolvaMusicTransfer"
WINDOW_TIMEOUT_S = 30
POLL_S = 0.01
SETTLE_S = 5
WAKEUP_WINDOW_S = 10


def run_inside_private_desktop():
    """Re-runs this script on its own Xvfb and D-Bus session unless it already does."""
    if os.environ.get("TOLVA_BENCH_DESKTOP") == "1":
        return
    for tool in ("xvfb-run", "dbus-run-session", "xdotool"):
        if shutil.which(tool) is None:
            sys.exit(f"desktop-startup: {tool} is not installed (scripts/install-deps.sh installs it)")
    env = dict(os.environ, TOLVA_BENCH_DESKTOP="1", QT_QPA_PLATFORM="xcb")
    for name in ("WAYLAND_DISPLAY", "XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"):
        env.pop(name, None)
    command = ["dbus-run-session", "--", "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset",
               sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
    sys.exit(subprocess.call(command, env=env))


def make_home(root):
    """A fresh user profile: settings with FirstRun = 0, no autostart entry."""
    env = dict(os.environ)
    folders = {
        "HOME": root,
        "XDG_CONFIG_HOME": os.path.join(root, ".config"),
        "XDG_DATA_HOME": os.path.join(root, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(root, ".cache"),
        "XDG_RUNTIME_DIR": os.path.join(root, "runtime"),
        "XDG_MUSIC_DIR": os.path.join(root, "Music"),
    }
    for name, path in folders.items():
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[name] = path
    settings_dir = os.path.join(folders["XDG_CONFIG_HOME"], "Brenvik Corporation")
    os.makedirs(settings_dir, exist_ok=True)
    settings = {KEY: {"FirstRun": {"type": "REG_DWORD", "data": 0}}}
    with open(os.path.join(settings_dir, "TolvaMusicTransfer.conf"), "w", encoding="utf-8") as f:
        json.dump(settings, f, indent=4)
    return env


def window_shown():
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^" + TITLE + "$"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    return result.returncode == 0 and result.stdout.strip() != b""


def context_switches(pid):
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return None
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/status", encoding="ascii") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total


def resident_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return None


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def one_start(binary, measure_idle):
    """Returns (milliseconds to the window, RSS KiB or None, wake-ups per second or None)."""
    with tempfile.TemporaryDirectory(prefix="tolva-bench-") as root:
        env = make_home(root)
        start = time.monotonic()
        process = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            while not window_shown():
                if process.poll() is not None:
                    raise RuntimeError(f"the program ended with {process.returncode} before its window showed")
                if time.monotonic() - start > WINDOW_TIMEOUT_S:
                    raise RuntimeError(f"no window titled '{TITLE}' within {WINDOW_TIMEOUT_S} s")
                time.sleep(POLL_S)
            shown_ms = (time.monotonic() - start) * 1000
            if not measure_idle:
                return shown_ms, None, None
            time.sleep(SETTLE_S)
            rss = resident_kib(process.pid)
            before = context_switches(process.pid)
            time.sleep(WAKEUP_WINDOW_S)
            after = context_switches(process.pid)
            if rss is None or before is None or after is None or process.poll() is not None:
                raise RuntimeError("the program ended while idling")
            return shown_ms, rss, (after - before) / WAKEUP_WINDOW_S
        finally:
            stop(process)


def report(name, ours, unit):
    print(f"BENCH\t{name}\t{ours:.3f}\t-\t-\t{unit}", flush=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    starts = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    if not os.access(binary, os.X_OK):
        sys.exit(f"desktop-startup: {binary} is not an executable program")
    run_inside_private_desktop()
    try:
        times = []
        rss = wakeups = None
        for index in range(starts):
            shown_ms, start_rss, start_wakeups = one_start(binary, measure_idle=index == starts - 1)
            times.append(shown_ms)
            if start_rss is not None:
                rss, wakeups = start_rss, start_wakeups
            print(f"start {index + 1}: window after {shown_ms:.0f} ms", file=sys.stderr)
    except RuntimeError as error:
        print(f"desktop-startup: {error}", file=sys.stderr)
        return 1
    report("desktop: start to window shown (median)", statistics.median(times),
           f"ms; {starts} starts, {min(times):.0f}..{max(times):.0f} ms")
    report("desktop: resident memory after 5 s idle", rss / 1024, "MiB")
    report("desktop: wake-ups when idle", wakeups, f"per second; context switches over {WAKEUP_WINDOW_S} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
