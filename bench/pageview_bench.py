#!/usr/bin/env python3
"""Resting memory and start time of the reader, light view beside web view.

For each view and each case the real program runs in a private Xvfb (1600x900) with
trayer as notification area:
  offline  - the default store's two feeds, unreachable (the connectivity probe fails),
             the page is an earlier feeds.htm of 50 feeds;
  feeds50  - 50 feeds of 10 items (each with a small image) on a loopback server.
Resting memory: the PSS (/proc/<pid>/smaps_rollup) summed over the reader and all its
descendants 60 s after start, and their resident size. Start time: from exec until the
strip shows the page (a pixel of the link colour in the reader's window). Runs alternate
between the views; the medians are printed.

usage: pageview_bench.py QUORVEL_BINARY [runs] [seconds]
BENCH_VIEWS="web" measures one view only; QTWEBENGINE_CHROMIUM_FLAGS passes to the reader.
BENCH_CASES="offline" measures one case only. The view name "quiterss" runs that feed reader
(Debian's package) instead, on a private profile (quiterss_profile.py) holding the same feeds
as ours in each case (offline: the two unreachable ones; feeds50: the 50 loopback feeds,
updated at start-up and every minute): its resting memory beside ours in the same run.
"""
import ctypes, ctypes.util, http.server, os, shutil, socketserver, statistics, subprocess, sys, tempfile, threading, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quiterss_profile

binary = os.path.abspath(sys.argv[1])
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
rest = float(sys.argv[3]) if len(sys.argv) > 3 else 60.0
FEEDS, ITEMS = 50, 10

def png():
    # A 120x60 one-colour PNG, made with the standard library only.
    import struct, zlib
    w, h = 120, 60
    raw = b"".join(b"\0" + b"\x30\x90\xc0" * w for _ in range(h))
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))

IMAGE = png()

def feed(port, n):
    items = "".join(
        f"<item><title>Feed {n} headline {i} with several words</title>"
        f"<link>http://127.0.0.1:{port}/article/{n}/{i}</link>"
        f"<pubDate>Mon, 07 Dec 2026 1{i % 10}:00:00 GMT</pubDate>"
        f"<description>&lt;p&gt;Paragraph {i} of feed {n}: some text that wraps over a few lines "
        f"in the strip, with &lt;b&gt;bold&lt;/b&gt; and &lt;i&gt;italic&lt;/i&gt; words.&lt;/p&gt;"
        f"&lt;img src='http://127.0.0.1:{port}/img/{n}.png'&gt;</description></item>"
        for i in range(ITEMS))
    return f"<rss><channel><title>Feed {n}</title>{items}</channel></rss>".encode()

class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        port = self.server.server_address[1]
        if self.path.startswith("/feed/"):
            body, kind = feed(port, int(self.path[6:])), "application/rss+xml"
        elif self.path.startswith("/img/"):
            body, kind = IMAGE, "image/png"
        elif self.path == "/probe":
            body, kind = b"ok", "text/plain"
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

def store(port, loopback):
    if loopback:
        feeds = "".join(f"<feed url='http://127.0.0.1:{port}/feed/{n}' num='{ITEMS}' headers='false' "
                        f"disabled='false'/>" for n in range(FEEDS))
    else:
        feeds = ("<feed headers='false' num='10' url='http://127.0.0.1:9/rss.xml' />"
                 "<feed headers='true' num='10' url='http://127.0.0.1:9/news/rss.xml' />")
    return f"<root>{feeds}</root>"

def quiterss_run(work, env, port, loopback):
    # QuiteRSS on a private profile holding the feeds of ours in the same case.
    if loopback:
        urls = [f"http://127.0.0.1:{port}/feed/{n}" for n in range(FEEDS)]
    else:
        urls = ["http://127.0.0.1:9/rss.xml", "http://127.0.0.1:9/news/rss.xml"]
    return quiterss_profile.make_profile(os.path.join(work, "quiterss"), urls, base=env), ["quiterss"]

def descendants(pid):
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        try:
            for task in os.listdir(f"/proc/{p}/task"):
                with open(f"/proc/{p}/task/{task}/children") as f:
                    todo += [int(c) for c in f.read().split()]
        except OSError:
            pass
    return found

def memory_mb(pid):
    # PSS, and the resident size: PSS shares a library's pages among every process on the
    # machine that maps it, so it moves with what else runs (by tens of megabytes for the
    # browser engine); the resident size of the tree does not.
    pss = resident = 0
    for p in descendants(pid):
        try:
            with open(f"/proc/{p}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        pss += int(line.split()[1])
                    elif line.startswith("Rss:"):
                        resident += int(line.split()[1])
        except OSError:
            pass
    return pss / 1024.0, resident / 1024.0

class Screen:
    """The reader's windows on the X display, read through libX11 in this process: a poll
    costs about a millisecond, so it neither delays the program it watches nor misses the
    first frame by much."""

    class Image(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                    ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                    ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                    ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                    ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]

    class Attributes(ctypes.Structure):
        _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                    ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                    ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("klass", ctypes.c_int),
                    ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                    ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                    ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                    ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                    ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                    ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                    ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]

    # Byte maps: 255 where a colour channel is full (or empty), 0 elsewhere.
    FULL = bytes(255 if b == 255 else 0 for b in range(256))
    NONE = bytes(255 if b == 0 else 0 for b in range(256))
    # X errors (a window gone between two calls) are ignored rather than ending the bench.
    ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)

    def __init__(self, display):
        x = self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 4
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        x.XGetImage.restype = ctypes.POINTER(Screen.Image)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.c_void_p]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XSetErrorHandler.argtypes = [ctypes.c_void_p]
        x.XSetErrorHandler(Screen.ERROR_HANDLER)
        x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.display = x.XOpenDisplay(display.encode())
        self.root = x.XDefaultRootWindow(self.display)
        self.size = (x.XDisplayWidth(self.display, 0), x.XDisplayHeight(self.display, 0))

    def close(self):
        self.x.XCloseDisplay(self.display)

    def reader_windows(self):
        # The strip, and any message box of the program (they share the title's start); only
        # the ones shown, with where they are on the screen.
        x, found = self.x, []
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(children), ctypes.byref(count)):
            return found
        for i in range(count.value):
            name = ctypes.c_char_p()
            if not x.XFetchName(self.display, children[i], ctypes.byref(name)) or not name.value:
                continue
            title = name.value
            x.XFree(name)
            a = Screen.Attributes()
            if (title.startswith(b"Quorvel RSS Reader")
                    and x.XGetWindowAttributes(self.display, children[i], ctypes.byref(a))
                    and a.map_state == 2 and a.width > 0 and a.height > 0):
                found.append((a.x, a.y, a.width, a.height))
        if children:
            x.XFree(children)
        return found

    def shows_link_colour(self, area):
        # The default style draws links in #0000FF. Read from the screen (the root window): a
        # window drawn with OpenGL reads back empty. Whole pixels only: a black pixel beside a
        # white one holds the same bytes across their boundary.
        left, top = max(0, area[0]), max(0, area[1])
        width = min(area[0] + area[2], self.size[0]) - left
        height = min(area[1] + area[3], self.size[1]) - top
        if width <= 0 or height <= 0:
            return False
        image = self.x.XGetImage(self.display, self.root, left, top, width, height, 0xFFFFFFFF, 2)
        if not image:
            return False
        try:
            i = image.contents
            if i.bits_per_pixel != 32 or i.byte_order != 0:
                raise RuntimeError("the bench reads 32-bit little-endian screens only")
            data = ctypes.string_at(i.data, i.bytes_per_line * i.height)
        finally:
            self.x.XDestroyImage(image)
        blue = int.from_bytes(data[0::4].translate(Screen.FULL), "little")
        green = int.from_bytes(data[1::4].translate(Screen.NONE), "little")
        red = int.from_bytes(data[2::4].translate(Screen.NONE), "little")
        return (blue & green & red) != 0

def one_run(view, loopback, port, page):
    work = tempfile.mkdtemp(prefix="pageview-bench-")
    data, runtime = os.path.join(work, "data"), os.path.join(work, "run")
    os.mkdir(data, 0o700)
    os.mkdir(runtime, 0o700)
    with open(os.path.join(data, "rss_feeds.xml"), "w") as f:
        f.write(store(port, loopback))
    shutil.copy(page, os.path.join(data, "feeds.htm"))
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1600x900x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    display = ":" + xvfb.stdout.readline().decode().strip()
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime, QTWEBENGINE_DISABLE_SANDBOX="1",
               QUORVEL_PROBE_URL=f"http://127.0.0.1:{port}/probe" if loopback else "http://127.0.0.1:9/")
    env.pop("QT_QPA_PLATFORM", None)
    tray = subprocess.Popen(["trayer", "--edge", "bottom", "--align", "left", "--widthtype", "request",
                             "--height", "32", "--SetDockType", "true"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if view == "quiterss":
        env, command = quiterss_run(work, env, port, loopback)
    else:
        command = [binary, "--data-dir", data, f"--view={view}"]
    time.sleep(1.5)
    started = time.monotonic()
    reader = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = None
    screen = Screen(display)
    while view != "quiterss" and time.monotonic() - started < 30:
        if any(screen.shows_link_colour(area) for area in screen.reader_windows()):
            shown = time.monotonic() - started
            break
        time.sleep(0.005)
    screen.close()
    time.sleep(max(0.0, rest - (time.monotonic() - started)))
    memory = memory_mb(reader.pid)
    for process in (reader, tray, xvfb):
        process.kill()
        process.wait()
    shutil.rmtree(work, ignore_errors=True)
    return memory, shown

def main():
    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # The page every run starts from: one headless refresh of the 50 feeds.
    seed = tempfile.mkdtemp(prefix="pageview-seed-")
    os.chmod(seed, 0o700)
    with open(os.path.join(seed, "rss_feeds.xml"), "w") as f:
        f.write(store(port, True))
    subprocess.run([binary, "--refresh", "--data-dir", seed], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=dict(os.environ, QUORVEL_PROBE_URL=f"http://127.0.0.1:{port}/probe"))
    page = os.path.join(seed, "feeds.htm")
    results = {}
    for run in range(runs):
        for case in os.environ.get("BENCH_CASES", "offline feeds50").split():
            for view in os.environ.get("BENCH_VIEWS", "light web").split():
                memory, shown = one_run(view, case == "feeds50", port, page)
                results.setdefault((view, case), []).append((memory, shown))
                print(f"run {run + 1} {view:5} {case:8} PSS {memory[0]:6.1f} MB  RSS {memory[1]:6.1f} MB  page shown "
                      f"{'-' if shown is None else f'{shown:.2f} s'}", flush=True)
    print(f"\nmedians of {runs} runs, PSS {rest:.0f} s after start:")
    for (view, case), values in sorted(results.items()):
        times = [s for _, s in values if s is not None]
        print(f"  {view:5} {case:8} PSS {statistics.median(m[0] for m, _ in values):6.1f} MB  "
              f"RSS {statistics.median(m[1] for m, _ in values):6.1f} MB  page shown "
              f"{f'{statistics.median(times):.2f} s' if times else '-'}")
    shutil.rmtree(seed, ignore_errors=True)

main()
