#!/usr/bin/python3
"""The desktop program end to end, as a person meets it.

The real tolva-music-transfer runs on a private X server and session bus (run-on-desktop.sh)
inside a private loopback-only network namespace (run-in-netns.sh), with a profile of its own,
generated albums and a reference player serving its shares with Samba. The test touches the
program only from outside: clicks and keys through XTest at the places the accessibility tree
gives for the controls, and the notification-area menu over D-Bus through a stand-in tray host.

    desktop_e2e.py PROGRAM PLAYER ARTEFACT_FOLDER

The steps: the setup announcement; the wizard (the player's card, folders and types, automatic
transfer after 1 minute, Finish Wizard, "start transferring"); the files on the share byte for
byte and in the transfer history; a second start brings the console back; after the idle minute
(shortened with the program's test setting TOLVA_IDLE_MINUTE_MS) an automatic transfer of new
files starts and a pointer movement cancels it; the player goes away and the console has no
device; Exit from the tray, Yes: the program ends and its start at logon is gone. A screenshot of
every step lands in ARTEFACT_FOLDER. Exit code 77 (skipped) when the accessibility bindings are
missing.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../tools/desktop-driver"))

import desktop_driver as d  # noqa: E402

# One idle "minute" of the program lasts this long here (its documented test setting).
IDLE_MINUTE_MS = 15000

# Traffic control lives in the system folders (/usr/sbin), which a user's PATH often lacks; it is
# called by its full path.
TC = shutil.which("tc", path=os.pathsep.join(filter(None, [os.environ.get("PATH"), "/usr/sbin", "/sbin"])))


def fail(text):
    raise d.DriverError(text)


def set_loopback_rate(limit):
    """Loopback at the speed of a slow home network (traffic control of the test's own namespace),
    so that an automatic transfer runs long enough to be stopped in the middle."""
    args = [TC, "qdisc", "replace", "dev", "lo", "root", "tbf", "rate", "8mbit", "burst", "64kb", "latency",
            "400ms"] if limit else [TC, "qdisc", "del", "dev", "lo", "root"]
    subprocess.run(args, check=limit)


def run(program, player_binary, artefacts):
    started = time.monotonic()
    shutil.rmtree(artefacts, ignore_errors=True)
    shots = d.Shots(artefacts)
    d.log(f"screenshots of every step: {artefacts}")

    base = tempfile.mkdtemp(prefix="tolva-desktop-e2e.")
    home = os.path.join(base, "home")
    env = d.profile_environment(home, idle_minute_ms=IDLE_MINUTE_MS)
    # Whole allocation stacks through Qt's libraries (built without frame pointers), so that the
    # leak check's suppressions of Qt's own caches (tests/lsan.supp) can match them.
    env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":fast_unwind_on_malloc=0").lstrip(":")
    os.environ["XDG_MUSIC_DIR"] = env["XDG_MUSIC_DIR"]
    data_home = env["XDG_DATA_HOME"]
    autostart = os.path.join(env["XDG_CONFIG_HOME"], "autostart", "TolvaMusicTransfer.desktop")
    program_log = os.path.join(artefacts, "program.log")
    files = d.make_albums(env["XDG_MUSIC_DIR"])
    expected = [f for f in files if not f.endswith(".m4a")]
    unticked = [f for f in files if f.endswith(".m4a")]

    player = d.Player(player_binary, os.path.join(base, "player"))
    host = process = None
    try:
        player.wait_ready()
        host, tray = d.start_tray_host()
        process = d.start_program(program, env, program_log)
        ui = d.Ui()

        # The announcement and the wizard, ending with "start transferring".
        d.first_start_wizard(ui, shots, auto_minutes=1)
        shots.take("transfer-started")
        d.wait_transfer_done(player, expected, unticked, data_home)
        lines = d.history_lines(data_home)
        d.log(f"{len(expected)} files on the share byte for byte, {len(lines)} history lines")
        d.wait_for("the transfer's end in the tray menu", lambda: tray.first_label() == d.TEXT_MANUAL_TRANSFER, 120)
        if not os.path.exists(autostart):
            fail(f"the start at logon was not written at the wizard's end: {autostart}")

        # The outcome comes as a message box over the console; OK closes it.
        for text_id, box in d.outcome_boxes(ui).items():
            shots.take(f"first-transfer-done-message-{text_id}", ui.extents(box))
            d.log(f"message box {text_id} after the transfer: OK")
            ui.answer(box, "OK")

        # OK hides the console; a second start of the program brings it back and ends.
        ui.click_when_enabled("OK", r"^OK \(1\)$")
        d.wait_for("the console hidden", lambda: not ui.window_showing(), 30)
        second = subprocess.run([program], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        if second.returncode != 0:
            fail(f"the second start ended with {second.returncode}: {second.stderr.decode(errors='replace')}")
        d.wait_for("the console brought back by the second start", ui.window_showing, 30)
        shots.take("second-start-raised-console")
        if process.poll() is not None:
            fail("the first program ended at the second start")

        # New music, a slow network, the console hidden, and then no input for the idle minute.
        new_album = [os.path.join(env["XDG_MUSIC_DIR"], f"Night Ferry/Crossing/{n:02d} Track {n}.mp3")
                     for n in range(1, 9)]
        for n, path in enumerate(new_album):
            d.make_track(path, 1024, d.MP3, 100 + n)
        set_loopback_rate(True)
        # The program's diagnostic log (written while the file exists) tells why a run ended.
        diagnostic_log = os.path.join(data_home, "Brenvik Corporation", "TolvaMusicTransfer", "Tolvalog.txt")
        open(diagnostic_log, "a").close()
        ui.click_when_enabled("OK", r"^OK \(1\)$")  # the hand on the mouse: the idle period starts over
        idle_from = time.monotonic()
        d.wait_for("the console hidden", lambda: not ui.window_showing(), 30)
        d.wait_for("the automatic transfer", lambda: tray.first_label() == d.TEXT_STOP_TRANSFERRING,
                   IDLE_MINUTE_MS / 1000 + 90, 0.2)
        idle_seconds = time.monotonic() - idle_from
        d.log(f"the automatic transfer started after {idle_seconds:.1f} s without input "
              f"(one idle minute = {IDLE_MINUTE_MS / 1000:.0f} s here)")
        if idle_seconds < IDLE_MINUTE_MS / 1000 * 0.9:
            fail(f"the automatic transfer started after {idle_seconds:.1f} s, before the idle minute was over")
        shots.take("automatic-transfer-running")
        if ui.window_showing():
            fail("the console showed when the automatic transfer started")
        d.move_pointer_as_a_person()
        d.wait_for("the automatic transfer cancelled", lambda: tray.first_label() == d.TEXT_MANUAL_TRANSFER, 60)
        set_loopback_rate(False)
        shots.take("automatic-transfer-cancelled")
        if ui.window_showing():
            fail("the console showed when the automatic transfer was cancelled")
        done = [path for path in new_album
                if any(line.startswith(path + "(") and "Result: OK" in line for line in d.history_lines(data_home))]
        if len(done) == len(new_album):
            fail("every new file was transferred: the pointer movement did not cancel the automatic transfer")
        with open(diagnostic_log, errors="replace") as text:
            if "HandleCancelFileSync (input" not in text.read():
                fail("the automatic transfer ended, but not by the input cancel (see Tolvalog.txt)")
        d.log(f"automatic transfer cancelled by the pointer after {len(done)} of {len(new_album)} new files")
        for text_id, box in ui.message_boxes().items():
            d.log(f"message box {text_id} after the cancel: OK")
            shots.take(f"message-{text_id}", ui.extents(box))
            ui.answer(box, "OK")

        # The player goes away: the console has no device.
        player.stop()
        d.wait_for("the device gone from the tray menu ('Manual Transfer' greyed)", lambda: any(
            text == d.TEXT_MANUAL_TRANSFER and not enabled for _, text, enabled in tray.menu()), 120)
        tray.click(d.TEXT_SETUP_CONSOLE)
        d.wait_for("the console", ui.window_showing, 30)

        def no_device():
            ip = ui.find(r"^IP Address$")
            contents = ui.find(r"\(1044\)$")
            return ip is not None and contents is not None and ui.text(ip).strip() == ""

        d.wait_for("the console without a device", no_device, 60)
        shots.take("player-offline-no-device")

        # Exit from the tray, Yes: the program ends and its start at logon goes with it.
        tray.click(d.TEXT_EXIT)
        box = ui.message_box(160)
        shots.take("exit-question", ui.extents(box))
        ui.answer(box, "Yes")
        try:
            code = process.wait(60)
        except subprocess.TimeoutExpired:
            fail("the program did not end after Exit and Yes")
        d.log(f"the program ended with exit code {code}")
        if code != 0:
            fail(f"the program ended with exit code {code}")
        shots.take("ended")
        if os.path.exists(autostart):
            fail(f"the start at logon is still there after Exit: {autostart}")
        d.log(f"end to end in {time.monotonic() - started:.0f} s; screenshots in {artefacts}")
        return 0
    except (d.DriverError, subprocess.TimeoutExpired) as error:
        shots.take("failed")
        d.log(f"FAILED: {error}")
        if os.path.exists(program_log):
            with open(program_log, errors="replace") as text:
                sys.stdout.write("--- end of the program's output\n" + text.read()[-6000:])
        d.log(f"screenshots in {artefacts}")
        return 1
    finally:
        subprocess.run([TC, "qdisc", "del", "dev", "lo", "root"], stderr=subprocess.DEVNULL)
        if process is not None and process.poll() is None:
            process.kill()
            process.wait()
        player.stop()
        if host is not None:
            host.terminate()
            host.wait()
        shutil.rmtree(base, ignore_errors=True)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    try:
        import gi

        gi.require_version("Atspi", "2.0")
        import pyatspi  # noqa: F401
    except (ImportError, ValueError) as error:
        print(f"SKIPPED: the accessibility bindings are missing ({error}); scripts/install-deps.sh installs "
              "python3-pyatspi")
        return 77
    for tool, found in (("xdotool", shutil.which("xdotool")), ("xwd", shutil.which("xwd")),
                        ("xwininfo", shutil.which("xwininfo")), ("tc", TC)):
        if found is None:
            print(f"SKIPPED: {tool} is missing (scripts/install-deps.sh installs it)")
            return 77
    return run(argv[1], argv[2], argv[3])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
