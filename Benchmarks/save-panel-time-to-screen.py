#!/usr/bin/env python3
"""The save panel's time to screen against a bare Qt file dialog's, in one run on an Xvfb of its own.

Panel: from writing "chooseSaveDestination" to a running host (answered a "ping" first) until
the panel's window is mapped. Bare: from spawning BareFileDialog (same build) until its window is
mapped. Windows are polled every 10 ms; Escape closes each and the host's answer is awaited. The
two alternate, each with a session bus of the run's own and with none (the address leads
nowhere). No window manager runs, as under xvfb-run. Beside the medians of those times, the
medians of the CPU time spent until the window was seen (host and panel, or the bare dialog; the
scheduler's count of all their threads), which depends less on other work on the machine.
The panel maps its window and then builds the folder chooser into it before the first frame;
the bare dialog is built before it is mapped.
Usage: Benchmarks/save-panel-time-to-screen.py [BUILD_DIR (build/test)] [ROUNDS (20)]
Needs Xvfb, dbus-daemon and xdotool.
"""
import ctypes, json, os, select, statistics, struct, subprocess, sys, tempfile, time

POLL_SECONDS = 0.010
GIVE_UP_SECONDS = 30
PANEL_TITLE = "Time to screen"
BARE_TITLE = "Time to screen (bare)"

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/test")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
host_program = os.path.join(build, "Kavo Helper.app/Contents/MacOS/brindle-host")
bare_program = os.path.join(build, "Benchmarks/BareFileDialog")

c_int, c_long, c_ulong, c_void_p = ctypes.c_int, ctypes.c_long, ctypes.c_ulong, ctypes.c_void_p


class WindowAttributes(ctypes.Structure):
    _fields_ = [("x", c_int), ("y", c_int), ("width", c_int), ("height", c_int),
                ("border_width", c_int), ("depth", c_int), ("visual", c_void_p), ("root", c_ulong),
                ("window_class", c_int), ("bit_gravity", c_int), ("win_gravity", c_int),
                ("backing_store", c_int), ("backing_planes", c_ulong), ("backing_pixel", c_ulong),
                ("save_under", c_int), ("colormap", c_ulong), ("map_installed", c_int),
                ("map_state", c_int), ("all_event_masks", c_long), ("your_event_mask", c_long),
                ("do_not_propagate_mask", c_long), ("override_redirect", c_int),
                ("screen", c_void_p)]


class Screen:
    """Top-level windows, asked of the X server directly: spawning a program per poll would load
    the machine that is being measured."""
    IS_VIEWABLE = 2

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = c_void_p
        self.x.XDefaultRootWindow.restype = c_ulong
        self.x.XInternAtom.restype = c_ulong
        for name in ("XDefaultRootWindow", "XQueryTree", "XGetWindowAttributes",
                     "XGetWindowProperty", "XInternAtom", "XFree"):
            getattr(self.x, name).argtypes = None
        # A window that goes away between two requests is no reason to end the run.
        self.ignore = ctypes.CFUNCTYPE(c_int, c_void_p, c_void_p)(lambda *_: 0)
        self.x.XSetErrorHandler(self.ignore)
        self.display = c_void_p(self.x.XOpenDisplay(display.encode()))
        if not self.display:
            sys.exit(f"cannot open display {display}")
        self.root = c_ulong(self.x.XDefaultRootWindow(self.display))
        self.name_atom = c_ulong(self.x.XInternAtom(self.display, b"_NET_WM_NAME", 0))
        self.pid_atom = c_ulong(self.x.XInternAtom(self.display, b"_NET_WM_PID", 0))

    def property(self, window, atom, read):
        kind, form, count, after = c_ulong(), c_int(), c_ulong(), c_ulong()
        data = ctypes.POINTER(ctypes.c_char)()
        if self.x.XGetWindowProperty(self.display, c_ulong(window), atom, c_long(0), c_long(256),
                                     0, c_ulong(0), ctypes.byref(kind), ctypes.byref(form),
                                     ctypes.byref(count), ctypes.byref(after),
                                     ctypes.byref(data)) != 0 or not data:
            return None
        value = read(data, count.value)
        self.x.XFree(data)
        return value

    def title(self, window):
        return self.property(window, self.name_atom,
                             lambda data, count: ctypes.string_at(data, count).decode("utf-8",
                                                                                       "replace"))

    def owner(self, window):
        """The process that made the window (Qt sets _NET_WM_PID)."""
        return self.property(window, self.pid_atom,
                             lambda data, count: ctypes.cast(data, ctypes.POINTER(c_long))[0])

    def shows(self, title):
        root, parent, count = c_ulong(), c_ulong(), ctypes.c_uint()
        children = ctypes.POINTER(c_ulong)()
        if not self.x.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return None
        windows = [children[index] for index in range(count.value)]
        if children:
            self.x.XFree(children)
        attributes = WindowAttributes()
        for window in windows:
            if (self.x.XGetWindowAttributes(self.display, c_ulong(window), ctypes.byref(attributes))
                    and attributes.map_state == self.IS_VIEWABLE and self.title(window) == title):
                return window
        return None

    def wait_for(self, title, started):
        """The seconds until a window named `title` was seen, and its process."""
        tick = started
        while (window := self.shows(title)) is None:
            tick += POLL_SECONDS
            if tick - started > GIVE_UP_SECONDS:
                sys.exit(f"no window named {title!r} after {GIVE_UP_SECONDS} s")
            time.sleep(max(0.0, tick - time.perf_counter()))
        return time.perf_counter() - started, self.owner(window)


def cpu_seconds(pid):
    """The CPU seconds of the process's threads so far, from the scheduler's count in ns."""
    total = 0
    for thread in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{thread}/schedstat") as counts:
                total += int(counts.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that has just ended
    return total / 1e9


def frame(message):
    body = json.dumps(message).encode()
    return struct.pack("<I", len(body)) + body


def read_exactly(stream, size, deadline):
    data = b""
    while len(data) < size:
        if not select.select([stream], [], [], max(0.0, deadline - time.monotonic()))[0]:
            return None
        chunk = os.read(stream.fileno(), size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_reply(host, seconds):
    deadline = time.monotonic() + seconds
    header = read_exactly(host.stdout, 4, deadline)
    body = header and read_exactly(host.stdout, struct.unpack("<I", header)[0], deadline)
    return json.loads(body) if body else None


def close_window(environment):
    """Escape, as the user would: the focus is on the new window (Qt gives it without a window
    manager)."""
    subprocess.run(["xdotool", "key", "Escape"], env=environment, check=True)


def panel_round(screen, environment, folder):
    host = subprocess.Popen([host_program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            env=environment)
    host.stdin.write(frame({"action": "ping"}))
    host.stdin.flush()
    if not read_reply(host, GIVE_UP_SECONDS):
        sys.exit("the host did not answer a ping")
    request = frame({"action": "chooseSaveDestination", "suggestedFilename": "photo.png",
                     "startingDirectory": folder, "panelTitle": PANEL_TITLE})
    host_cpu = cpu_seconds(host.pid)
    started = time.perf_counter()
    host.stdin.write(request)
    host.stdin.flush()
    elapsed, panel = screen.wait_for(PANEL_TITLE, started)
    cpu = cpu_seconds(panel) + cpu_seconds(host.pid) - host_cpu
    close_window(environment)
    reply = read_reply(host, GIVE_UP_SECONDS)
    if reply != {"ok": True, "cancelled": True}:
        sys.exit(f"the host answered {reply}")
    host.stdin.close()
    host.wait()
    return elapsed, cpu


def bare_round(screen, environment, folder):
    started = time.perf_counter()
    dialog = subprocess.Popen([bare_program, BARE_TITLE, folder], env=environment)
    elapsed, owner = screen.wait_for(BARE_TITLE, started)
    cpu = cpu_seconds(owner)
    close_window(environment)
    if dialog.wait(GIVE_UP_SECONDS) != 0:
        sys.exit("the bare dialog failed")
    return elapsed, cpu


def medians(measurements):
    return tuple(statistics.median(values) for values in zip(*measurements))


def start_server():
    readable, writable = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(writable), "-screen", "0",
                               "1280x800x24", "-nolisten", "tcp"], pass_fds=[writable],
                              stderr=subprocess.DEVNULL)
    os.close(writable)
    with os.fdopen(readable) as numbers:
        return server, ":" + numbers.readline().strip()


def start_bus():
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return bus, bus.stdout.readline().strip()


def main():
    for program in (host_program, bare_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build the bundle and the benchmarks first")
    server, display = start_server()
    bus, address = start_bus()
    try:
        with tempfile.TemporaryDirectory() as scratch:
            folder = os.path.join(scratch, "dest")
            os.mkdir(folder)
            runtime = os.path.join(scratch, "runtime")
            os.mkdir(runtime, 0o700)
            open(os.path.join(folder, "photo.png"), "w").close()
            common = {key: value for key, value in os.environ.items()
                      if key not in ("WAYLAND_DISPLAY", "XDG_SESSION_TYPE")}
            common.update(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                          XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                          BRINDLE_DIRECT_SAVE_DIR=os.path.join(scratch, "DirectSave/Incoming"))
            settings = {
                "session bus": dict(common, DBUS_SESSION_BUS_ADDRESS=address),
                "no session bus": dict(common, DBUS_SESSION_BUS_ADDRESS="unix:path=" +
                                       os.path.join(scratch, "no-bus")),
            }
            screen = Screen(display)
            runs = {"panel": panel_round, "bare": bare_round}
            times = {(setting, name): [] for setting in settings for name in runs}
            load = os.getloadavg()[0]
            # The first round of each only warms the caches (fonts, libraries) and is not counted.
            for index in range(rounds + 1):
                order = list(runs.items()) if index % 2 else list(reversed(runs.items()))
                for setting, environment in settings.items():
                    for name, run in order:
                        measured = run(screen, environment, folder)
                        if index:
                            times[(setting, name)].append(measured)
            print(f"{rounds} rounds, load average {load:.2f} at the start, "
                  f"{os.getloadavg()[0]:.2f} at the end")
            for setting in settings:
                panel, panel_cpu = medians(times[(setting, "panel")])
                bare, bare_cpu = medians(times[(setting, "bare")])
                print(f"{setting}: panel median {panel * 1e3:.0f} ms (CPU {panel_cpu * 1e3:.0f} ms),"
                      f" bare QFileDialog {bare * 1e3:.0f} ms (CPU {bare_cpu * 1e3:.0f} ms),"
                      f" {panel / bare:.2f} x (CPU {panel_cpu / bare_cpu:.2f} x)")
    finally:
        bus.terminate()
        server.terminate()
        bus.wait()
        server.wait()


main()
