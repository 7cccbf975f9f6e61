#!/usr/bin/python3
"""Drives the desktop program tolva-music-transfer from outside, as a person would.

It finds the program's controls in the accessibility tree (AT-SPI, by their accessible names,
which carry the design ids, e.g. "Next (1021)"), clicks and types with synthetic X input
(xdotool, XTest) at the controls' screen coordinates, reads and clicks the notification-area
menu over D-Bus (com.canonical.dbusmenu) through a stand-in tray host of its own, and takes
screenshots of the whole X screen. It also makes sample albums and runs a reference player with
its own Samba shares.

Used by the end-to-end test (tests/integration/desktop_e2e/) and by scripts/run.sh, which shows
the setup wizard and a transfer under Xvfb where there is no display. Everything here runs
inside a private loopback-only network namespace on a private X server and session bus; the
callers make those (the program searches the network as soon as it starts).

    desktop_driver.py tray-host           the stand-in tray host (until SIGTERM)
    desktop_driver.py tour PROGRAM PLAYER SHOTS [--keep-open]
                                          the first-start wizard and a transfer, with pictures
    desktop_driver.py show PROGRAM PLAYER the program on the current display with a player and
                                          sample albums, until the program ends

Needs /usr/bin/python3 with python3-pyatspi and python3-gi (the distribution's Python: the
accessibility bindings are not on PyPI), xdotool and xwd.
"""

import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

PROGRAM_NAME = "tolva-music-transfer"
PLAYER_ADDRESS = "127.0.0.2"
PLAYER_NAME = "Living Room Player"

# The texts of the English string table that the driver looks for (ids in brackets).
TEXT_MANUAL_TRANSFER = "Manual Transfer"  # 130
TEXT_SETUP_CONSOLE = "Setup Console"  # 131
TEXT_EXIT = "Exit"  # 135
TEXT_STOP_TRANSFERRING = "Stop Transferring"  # 176


class DriverError(Exception):
    """A step did not come about within its time limit."""


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def wait_for(what, condition, timeout, interval=0.25):
    """Polls condition() until it returns something true; that value, or DriverError."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DriverError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


# ---------------------------------------------------------------------------------------------
# Screenshots: the whole X screen as PNG (xwd, converted here; no image library needed).


def _png(path, width, height, rgb):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    stride = width * 3
    rows = b"".join(b"\x00" + rgb[y * stride:(y + 1) * stride] for y in range(height))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows, 6)))
        out.write(chunk(b"IEND", b""))


def _xwd(window):
    """One window's picture as (width, height, RGB bytes): 24-bit true colour in 24- or 32-bit
    pixels, as Xvfb has it."""
    data = subprocess.run(["xwd", "-silent", *(["-root"] if window is None else ["-id", window])],
                          capture_output=True, check=True).stdout
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask, ncolors = fields[14], fields[15], fields[16], fields[19]
    size = bits_per_pixel // 8
    if size not in (3, 4) or (red_mask, green_mask, blue_mask) != (0xFF0000, 0xFF00, 0xFF):
        raise DriverError(f"screenshot: unsupported pixel layout ({bits_per_pixel} bits per pixel)")
    pixels = data[header_size + 12 * ncolors:]
    rgb = bytearray(width * height * 3)
    # Least significant byte first: blue, green, red (, unused); otherwise the other way round.
    red, green, blue = (2, 1, 0) if byte_order == 0 else (size - 3, size - 2, size - 1)
    for y in range(height):
        row = pixels[y * bytes_per_line:y * bytes_per_line + width * size]
        out = memoryview(rgb)[y * width * 3:(y + 1) * width * 3]
        out[0::3] = row[red::size]
        out[1::3] = row[green::size]
        out[2::3] = row[blue::size]
    return width, height, rgb


def _mapped_windows():
    """The mapped top-level windows, bottom to top, as (id, x, y). The screen's own picture can
    leave a window black that the program has painted (a dialog over the settings window, on
    Xvfb without a compositor), while the window's own picture holds it."""
    listing = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True, check=True).stdout
    ids = re.findall(r"^\s+(0x[0-9a-f]+) ", listing, re.MULTILINE)
    found = []
    for window in reversed(ids):  # xwininfo lists the topmost first
        info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True).stdout
        fields = dict(re.findall(r"^\s+([A-Za-z -]+):\s+(.*)$", info, re.MULTILINE))
        if fields.get("Map State") == "IsViewable" and int(fields.get("Width", "0")) > 3:
            found.append((window, int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])))
    return found


def screenshot(path=None):
    """The whole screen as (width, height, RGB bytes), written as a PNG file when a path is given."""
    width, height, rgb = _xwd(None)
    for window, left, top in _mapped_windows():
        try:
            w, h, pixels = _xwd(window)
        except subprocess.CalledProcessError:
            continue  # gone meanwhile
        for y in range(max(0, -top), min(h, height - top)):
            x0, x1 = max(0, -left), min(w, width - left)
            if x1 > x0:
                rgb[((top + y) * width + left + x0) * 3:((top + y) * width + left + x1) * 3] = \
                    pixels[(y * w + x0) * 3:(y * w + x1) * 3]
    if path:
        _png(path, width, height, bytes(rgb))
    return width, height, rgb


def painted(image, area):
    """Whether a window's area shows something yet: a window mapped a moment ago stays black
    until the program has painted it."""
    width, height, rgb = image
    x, y, w, h = area
    row = min(max(y + h // 2, 0), height - 1)
    start, end = min(max(x, 0), width), min(max(x + w, 0), width)
    return any(rgb[row * width * 3 + start * 3:row * width * 3 + end * 3])


class Shots:
    """Numbered screenshots in one folder: 01-announcement.png, 02-..."""

    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        os.makedirs(folder, exist_ok=True)

    def take(self, name, area=None):
        """A picture of the screen; with area (x, y, width, height) of a window that has just
        appeared, once that window is painted (at most 10 s later)."""
        time.sleep(0.3)
        self.count += 1
        path = os.path.join(self.folder, f"{self.count:02d}-{name}.png")
        try:
            deadline = time.monotonic() + 10
            while area is not None and not painted(screenshot(), area) and time.monotonic() < deadline:
                time.sleep(0.2)
            screenshot(path)
        except (OSError, subprocess.CalledProcessError, DriverError) as error:
            log(f"screenshot {name} failed: {error}")
        return path


# ---------------------------------------------------------------------------------------------
# Synthetic input (XTest through xdotool).


def xdotool(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True)


def click_at(x, y):
    # mousemove warps the pointer, which input watches do not see; the last pixel of the way is
    # an XTest movement, as a hand on the mouse makes one (the program's idle period starts over
    # with it). The click is an XTest button press and release.
    xdotool("mousemove", "--sync", x - 1, y, "mousemove_relative", 1, 0, "click", 1)


def move_pointer_as_a_person():
    """A real relative pointer movement (XTest), which the program's input watch sees."""
    xdotool("mousemove_relative", "--", 37, 23)
    xdotool("mousemove_relative", "--", -20, 11)


# ---------------------------------------------------------------------------------------------
# The accessibility tree of the program.


class Ui:
    def __init__(self, app_name=PROGRAM_NAME):
        import gi

        gi.require_version("Atspi", "2.0")
        import pyatspi  # noqa: F401 (the distribution's bindings; loads Atspi with its helpers)
        from gi.repository import Atspi

        self.Atspi = Atspi
        self.app_name = app_name

    def app(self):
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            child = desktop.get_child_at_index(i)
            if child is not None and child.get_name() == self.app_name:
                # Read the tree afresh on every walk: cards, boxes and pages come and go.
                try:
                    child.set_cache_mask(self.Atspi.Cache.NONE)
                    child.clear_cache()
                except Exception:  # older libatspi: no cache control
                    pass
                return child
        return None

    def _showing(self, acc):
        try:
            return acc.get_state_set().contains(self.Atspi.StateType.SHOWING)
        except Exception:
            return False

    def walk(self, root=None):
        """Every showing accessible below the program (or root), depth first."""
        root = root or self.app()
        if root is None:
            return
        stack = [root]
        while stack:
            acc = stack.pop()
            try:
                count = acc.get_child_count()
            except Exception:
                continue
            children = []
            for i in range(count):
                try:
                    child = acc.get_child_at_index(i)
                except Exception:
                    child = None
                if child is not None and self._showing(child):
                    children.append(child)
            yield acc
            stack.extend(reversed(children))

    @staticmethod
    def name(acc):
        try:
            return acc.get_name() or ""
        except Exception:
            return ""

    def find_all(self, pattern, root=None):
        regex = re.compile(pattern)
        return [acc for acc in self.walk(root) if regex.search(self.name(acc))]

    def find(self, pattern, root=None):
        found = self.find_all(pattern, root)
        return found[0] if found else None

    def wait(self, what, pattern, timeout=60, root=None):
        return wait_for(what, lambda: self.find(pattern, root), timeout)

    def enabled(self, acc):
        return acc.get_state_set().contains(self.Atspi.StateType.ENABLED)

    def checked(self, acc):
        return acc.get_state_set().contains(self.Atspi.StateType.CHECKED)

    def text(self, acc):
        try:
            return acc.get_text_iface().get_text(0, -1)
        except Exception:
            return ""

    def extents(self, acc):
        rect = acc.get_extents(self.Atspi.CoordType.SCREEN)
        return rect.x, rect.y, rect.width, rect.height

    def click(self, acc, dx=None):
        """A click in the middle of the control (or dx pixels from its left edge)."""
        x, y, width, height = self.extents(acc)
        if width <= 0 or height <= 0:
            raise DriverError(f"'{self.name(acc)}' has no area on the screen")
        click_at(x + (width // 2 if dx is None else dx), y + height // 2)

    def click_when_enabled(self, what, pattern, timeout=60):
        acc = wait_for(f"{what} enabled", lambda: next((a for a in self.find_all(pattern) if self.enabled(a)), None),
                       timeout)
        self.click(acc)
        return acc

    def message_box(self, text_id, timeout=60):
        """The program's message box of string text_id (its accessible name ends in "(id)")."""
        return self.wait(f"message box {text_id}", rf"\({text_id}\)$", timeout)

    def answer(self, box, button):
        """Clicks a button of a message box by its text ("OK", "Yes", "No")."""
        acc = wait_for(f"button {button}",
                       lambda: next((a for a in self.walk(box) if re.fullmatch(rf"&?{button}", self.name(a))), None), 20)
        self.click(acc)

    def message_boxes(self):
        """The program's message boxes on the screen by text id (named "<caption> (<id>)")."""
        boxes = {}
        for acc in self.walk():
            match = re.fullmatch(r"Tolva Music Transfer \((\d+)\)", self.name(acc))
            if match:
                boxes[int(match.group(1))] = acc
        return boxes

    def window_showing(self):
        """Whether the settings window is on the screen (its page labels show)."""
        return self.find(r"\(1055\)$") is not None


# ---------------------------------------------------------------------------------------------
# The notification area: a stand-in tray host, and the program's tray menu as a panel reads it.

WATCHER_SERVICE = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


def run_tray_host():
    """A panel's watcher with a host registered: Qt shows its icon through it (until SIGTERM).
    Its properties are introspectable, which Qt needs to believe in the tray."""
    from gi.repository import Gio, GLib

    items = []
    node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
    loop = GLib.MainLoop()

    def on_call(connection, sender, path, interface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            (service,) = params.unpack()
            # Either a bus name or an object path on the caller's connection.
            item = sender + service if service.startswith("/") else service
            if item not in items:
                items.append(item)
            connection.emit_signal(None, WATCHER_PATH, WATCHER_SERVICE, "StatusNotifierItemRegistered",
                                   GLib.Variant("(s)", (item,)))
        invocation.return_value(None)

    def on_get(connection, sender, path, interface, prop):
        if prop == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if prop == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    bus.register_object(WATCHER_PATH, node.interfaces[0], on_call, on_get, None)
    Gio.bus_own_name_on_connection(bus, WATCHER_SERVICE, Gio.BusNameOwnerFlags.NONE, None, None)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()


class Tray:
    """The program's notification-area icon as a panel sees it, over the session bus."""

    def __init__(self):
        from gi.repository import Gio, GLib

        self.Gio, self.GLib = Gio, GLib
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def _call(self, service, path, interface, method, args, reply, timeout_ms=5000):
        result = self.bus.call_sync(service, path, interface, method, args,
                                    self.GLib.VariantType.new(reply) if reply else None,
                                    self.Gio.DBusCallFlags.NONE, timeout_ms, None)
        return result.unpack() if result is not None else None

    def _property(self, service, path, interface, name):
        (value,) = self._call(service, path, "org.freedesktop.DBus.Properties", "Get",
                              self.GLib.Variant("(ss)", (interface, name)), "(v)")
        return value

    def host_running(self):
        (owned,) = self._call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                              self.GLib.Variant("(s)", (WATCHER_SERVICE,)), "(b)")
        return owned

    def item(self):
        try:
            items = self._property(WATCHER_SERVICE, WATCHER_PATH, WATCHER_SERVICE, "RegisteredStatusNotifierItems")
        except self.GLib.Error:
            return None
        if not items:
            return None
        service = items[-1]
        path = "/StatusNotifierItem"
        if "/" in service:
            service, path = service[:service.index("/")], service[service.index("/"):]
        return service, path

    def menu(self):
        """The menu items: a list of (id, label, enabled)."""
        found = self.item()
        if found is None:
            return []
        service, path = found
        try:
            menu_path = self._property(service, path, "org.kde.StatusNotifierItem", "Menu")
            _, layout = self._call(service, menu_path, "com.canonical.dbusmenu", "GetLayout",
                                   self.GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
        except self.GLib.Error:
            return []
        items = []

        def read(node):
            item_id, properties, children = node
            if "label" in properties:
                # The text as a person reads it: "Exit(_E)" (mnemonic in brackets) reads "Exit".
                label = re.sub(r"\([_&]\w\)$", "", properties["label"].split("\t")[0]).replace("_", "")
                items.append((item_id, label, properties.get("enabled", True)))
            for child in children:
                read(child)

        read(layout)
        self.menu_path = (service, menu_path)
        return items

    def first_label(self):
        items = self.menu()
        return items[0][1] if items else ""

    def click(self, label, timeout=30):
        """Clicks the enabled menu item with this label (as the panel does for a click)."""
        try:
            item_id = wait_for(f"tray item '{label}'",
                               lambda: next((i for i, text, enabled in self.menu() if text == label and enabled), None),
                               timeout)
        except DriverError as error:
            raise DriverError(f"{error}; the tray menu: {self.menu()}") from None
        service, menu_path = self.menu_path
        try:
            # The program may answer only after the box the click opens; the click itself counts.
            self._call(service, menu_path, "com.canonical.dbusmenu", "Event",
                       self.GLib.Variant("(isvu)", (item_id, "clicked", self.GLib.Variant("i", 0), 0)), None, 2000)
        except self.GLib.Error:
            pass


# ---------------------------------------------------------------------------------------------
# Sample albums and the reference player.


def make_track(path, kib, head, seed):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    state = seed * 2654435761 % 2**32 or 1
    block = bytearray()
    for _ in range(256):  # 1 KiB of xorshift bytes, repeated with a counter, so files differ
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        block += struct.pack("<I", state)
    with open(path, "wb") as out:
        out.write(head)
        for i in range(kib):
            out.write(struct.pack("<I", i) + bytes(block[4:]))


MP3 = b"ID3\x03\x00\x00\x00\x00\x00\x00"
FLAC = b"fLaC"
M4A = b"\x00\x00\x00\x18ftypM4A "


def make_albums(music):
    """A few albums; returns the files of each type by extension."""
    tracks = [
        ("Harbour Lights/Low Tide/01 Salt.mp3", 192, MP3),
        ("Harbour Lights/Low Tide/02 Breakwater.mp3", 256, MP3),
        ("Harbour Lights/Low Tide/03 Gulls.mp3", 128, MP3),
        ("Marta Vell/Quiet Rooms/01 Hallway.flac", 384, FLAC),
        ("Marta Vell/Quiet Rooms/02 Attic.flac", 320, FLAC),
        ("The Ödegaard Trio/Café Nights/01 Opening.m4a", 160, M4A),
        ("The Ödegaard Trio/Café Nights/02 Étude.mp3", 96, MP3),
        ("Singles/Paper Boats.mp3", 64, MP3),
    ]
    for seed, (relative, kib, head) in enumerate(tracks, 1):
        make_track(os.path.join(music, relative), kib, head, seed)
    with open(os.path.join(music, "The Ödegaard Trio/Café Nights/notes.txt"), "w") as notes:
        notes.write("Liner notes: not music, and of no type the player knows.\n")
    return [os.path.join(music, relative) for relative, _, _ in tracks]


class Player:
    """The reference player with its shares served by an smbd of its own."""

    def __init__(self, binary, base):
        self.internal = os.path.join(base, "internal")
        self.external = os.path.join(base, "external")
        state = os.path.join(base, "samba-state")
        for folder in (self.internal, self.external, state):
            os.makedirs(folder, exist_ok=True)
        self.log = open(os.path.join(base, "player.err"), "w")
        self.process = subprocess.Popen(
            [binary, "--address", PLAYER_ADDRESS, "--name", PLAYER_NAME, "--internal-dir", self.internal,
             "--external-dir", self.external, "--samba", state],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True, bufsize=1)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.strip())

    def wait_ready(self, timeout=60):
        def ready():
            if any(line.startswith("failed") for line in self.lines) or self.process.poll() is not None:
                raise DriverError(f"the reference player did not start: {self.lines}")
            return any(line.startswith("ready ") for line in self.lines)

        wait_for("the reference player", ready, timeout, 0.1)

    def stop(self):
        """Quits the player (byebye on the network, smbd stopped)."""
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
            except (BrokenPipeError, ValueError):
                pass
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.terminate()
                self.process.wait(10)
        self.log.close()

    def landed(self):
        found = []
        for share in (self.internal, self.external):
            for folder, _, names in os.walk(share):
                found += [os.path.join(folder, name) for name in names]
        return found


def compare_share(player, expected, absent=()):
    """Problems: expected files missing or different on the share, absent ones there."""
    landed = player.landed()
    problems = []
    for source in expected:
        copy = next((path for path in landed if path.endswith(source)), None)
        if copy is None:
            problems.append(f"missing on the share: {source}")
        else:
            with open(source, "rb") as a, open(copy, "rb") as b:
                if a.read() != b.read():
                    problems.append(f"different bytes on the share: {source}")
    for source in absent:
        if any(path.endswith(source) for path in landed):
            problems.append(f"on the share although it should not be: {source}")
    return problems


def history_lines(data_home):
    lines = []
    for folder, _, names in os.walk(data_home):
        if "TransferHistory.txt" in names:
            with open(os.path.join(folder, "TransferHistory.txt"), encoding="utf-8", errors="replace") as history:
                lines += [line.rstrip("\r\n") for line in history if line.strip()]
    return lines


# ---------------------------------------------------------------------------------------------
# The program with a profile of its own.


def profile_environment(home, idle_minute_ms=None):
    env = dict(os.environ)
    env.update({
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local/share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_STATE_HOME": os.path.join(home, ".local/state"),
        "XDG_MUSIC_DIR": os.path.join(home, "Music"),
        "LANG": "C.UTF-8",
        # The program's controls in the accessibility tree without a screen reader running.
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        # The search for players on the namespace's loopback, where the reference player is.
        "TOLVA_SSDP_INTERFACES": "127.0.0.1",
    })
    for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "DESKTOP_STARTUP_ID",
                 "XDG_ACTIVATION_TOKEN"):
        env.pop(name, None)
    if idle_minute_ms:
        env["TOLVA_IDLE_MINUTE_MS"] = str(idle_minute_ms)
    for folder in ("Music", ".config", ".local/share", ".cache"):
        os.makedirs(os.path.join(home, folder), exist_ok=True)
    return env


def start_program(binary, env, log_path):
    log_file = open(log_path, "ab")
    return subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL, stdout=log_file, stderr=subprocess.STDOUT)


def start_tray_host():
    host = subprocess.Popen([sys.executable, os.path.abspath(__file__), "tray-host"])
    tray = Tray()
    wait_for("the stand-in tray host", tray.host_running, 30, 0.1)
    return host, tray


# ---------------------------------------------------------------------------------------------
# The steps a person takes, shared by the end-to-end test and the run command.


def first_start_wizard(ui, shots, auto_minutes=None, untick=("m4a",)):
    """From the setup announcement to the wizard-end dialog's "start transferring"."""
    box = ui.message_box(162, timeout=120)
    shots.take("setup-announcement", ui.extents(box))
    ui.answer(box, "OK")
    log("setup announcement 162 answered")

    # Step 1: the player's card appears in the list and is chosen.
    card = ui.wait("the player's card", rf"^{re.escape(PLAYER_NAME)}$", timeout=120)
    shots.take("wizard-connection-card")
    ui.click(card)
    log("player card clicked")
    ui.click_when_enabled("Next", r"\(1021\)$", timeout=60)
    shots.take("wizard-connection-chosen")

    # Step 2: the watched folders (the music folder) and the file types.
    folders = ui.wait("the watched-folder list", r"\(1001\)$", timeout=60)
    music = os.environ.get("XDG_MUSIC_DIR", "")
    wait_for("the music folder in the list", lambda: any(
        "Music" in ui.name(a) for a in ui.walk(folders)), 60)
    types = ui.wait("the file-type list", r"\(1011\)$", timeout=60)
    for extension in untick:
        item = wait_for(f"file type {extension}",
                        lambda: next((a for a in ui.walk(types) if ui.name(a).lower().strip(". *") == extension), None), 60)
        before = ui.checked(item)
        for dx in (10, 6, 14, 3):  # the check box at the item's left edge, by style
            ui.click(item, dx=dx)
            try:
                wait_for(f"{extension} ticked off", lambda: ui.checked(item) != before, 3)
                break
            except DriverError:
                continue
        else:
            raise DriverError(f"the tick of {extension} did not change")
        log(f"file type {extension} unticked")
    shots.take("wizard-contents")
    ui.click_when_enabled("Next", r"\(1021\)$")

    # Step 3: the transfer settings, automatic transfer after some idle minutes.
    ui.wait("the Transfer Settings page", r"\(111\)$", timeout=60)
    if auto_minutes is not None:
        on = ui.wait("Auto Transfer on", r"\(1006\)$")
        ui.click(on)
        wait_for("Auto Transfer on ticked", lambda: ui.checked(on), 10)
        minutes = ui.wait("the minutes field", r"\(1009\)$")
        ui.click(minutes)
        xdotool("key", "End", "BackSpace", "BackSpace", "BackSpace")
        xdotool("type", str(auto_minutes))
        xdotool("key", "Tab")
        try:
            wait_for(f"{auto_minutes} minute(s) in the field", lambda: ui.text(minutes).strip() == str(auto_minutes), 10)
        except DriverError as error:
            raise DriverError(f"{error} (it reads '{ui.text(minutes)}')") from None
        log(f"automatic transfer after {auto_minutes} minute(s)")
    shots.take("wizard-transfer-settings")
    ui.click_when_enabled("Finish Wizard", r"\(1024\)$")
    end = ui.wait("the wizard-end dialog", r"\(1038\)$", timeout=60)
    shots.take("wizard-end", ui.extents(end))
    ui.click_when_enabled("start transferring", r"^Quit Setup Wizard and start transferring")
    log("wizard finished with 'start transferring'")
    return end


def wait_transfer_done(player, expected, absent, data_home, timeout=180):
    def done():
        if compare_share(player, expected, absent):
            return False
        lines = history_lines(data_home)
        return all(any(line.startswith(source + "(") and "Result: OK" in line for line in lines)
                   for source in expected)

    wait_for("the files on the share and in the history", done, timeout, 0.5)


def outcome_boxes(ui, timeout=15):
    """The message boxes that tell a transfer's outcome, once they show (none after timeout)."""
    try:
        return wait_for("the transfer's outcome in a message box", ui.message_boxes, timeout)
    except DriverError:
        log("no message box with the transfer's outcome")
        return {}


# ---------------------------------------------------------------------------------------------
# scripts/run.sh without a display: the wizard and a transfer under Xvfb, with pictures.


def tour(program, player_binary, shots_folder, keep_seconds=0):
    # A stop (SIGTERM, or SIGHUP when the terminal goes) ends the tour through its clean-up below:
    # the program and the player with its smbd end, and the temporary folder goes.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    base = tempfile.mkdtemp(prefix="tolva-tour.")
    player = process = None
    try:
        home = os.path.join(base, "home")
        env = profile_environment(home)
        os.environ.update({k: env[k] for k in ("XDG_MUSIC_DIR",)})
        shots = Shots(shots_folder)
        files = make_albums(env["XDG_MUSIC_DIR"])
        expected = [f for f in files if not f.endswith(".m4a")]
        absent = [f for f in files if f.endswith(".m4a")]
        player = Player(player_binary, os.path.join(base, "player"))
        player.wait_ready()
        log(f"reference player \"{PLAYER_NAME}\" ready on {PLAYER_ADDRESS}")
        process = start_program(program, env, os.path.join(base, "program.log"))
        ui = Ui()
        first_start_wizard(ui, shots)
        wait_transfer_done(player, expected, absent, env["XDG_DATA_HOME"])
        for text_id, box in outcome_boxes(ui).items():
            shots.take(f"transferred-message-{text_id}", ui.extents(box))
            ui.answer(box, "OK")
        shots.take("transferred")
        log(f"{len(expected)} files on the player's share, byte for byte; the .m4a file stayed home (unticked)")
        for line in history_lines(env["XDG_DATA_HOME"]):
            log(f"history: {line}")
        if keep_seconds:
            time.sleep(keep_seconds)
        return 0
    except DriverError as error:
        shots.take("failed")
        log(f"FAILED: {error}")
        if process is not None:
            with open(os.path.join(base, "program.log"), errors="replace") as program_log:
                sys.stdout.write(program_log.read()[-4000:])
        return 1
    finally:
        for stop in (signal.SIGTERM, signal.SIGHUP):  # a second stop does not cut the clean-up short
            signal.signal(stop, signal.SIG_IGN)
        if process is not None and process.poll() is None:
            process.terminate()
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
        if player is not None:
            player.stop()
        shutil.rmtree(base, ignore_errors=True)


def show(program, player_binary):
    """The program on the user's display with a reference player and sample albums, until the
    program ends (tray Exit, or Ctrl+C here)."""
    base = tempfile.mkdtemp(prefix="tolva-show.")
    home = os.path.join(base, "home")
    env = profile_environment(home)
    env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON")
    make_albums(env["XDG_MUSIC_DIR"])
    player = Player(player_binary, os.path.join(base, "player"))
    process = None
    try:
        player.wait_ready()
        log(f"reference player \"{PLAYER_NAME}\" ready on {PLAYER_ADDRESS}; its shares: {base}/player")
        log(f"sample albums in {env['XDG_MUSIC_DIR']} (the watched music folder)")
        process = subprocess.Popen([program], env=env)
        signal.signal(signal.SIGTERM, lambda *_: process.terminate())
        signal.signal(signal.SIGINT, lambda *_: process.terminate())
        return process.wait()
    except DriverError as error:
        log(f"FAILED: {error}")
        return 1
    finally:
        if process is not None and process.poll() is None:
            process.terminate()
            process.wait(30)
        player.stop()
        shutil.rmtree(base, ignore_errors=True)


def main(argv):
    if len(argv) >= 2 and argv[1] == "tray-host":
        run_tray_host()
        return 0
    if len(argv) >= 5 and argv[1] == "tour":
        return tour(argv[2], argv[3], argv[4], 20 if "--keep-open" in argv else 0)
    if len(argv) >= 4 and argv[1] == "show":
        return show(argv[2], argv[3])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
