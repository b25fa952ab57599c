#!/usr/bin/env python3
"""Resting memory and start time of the reader, light view beside web view.

For each view and each case the real program runs in a private Xvfb (1600x900) with
trayer as notification area:
  offline  - the default store's two feeds, unreachable (the connectivity probe fails),
             the page is an earlier feeds.htm of 50 feeds;
  feeds50  - 50 feeds of 10 items (each with a small image) on a loopback server.
Resting memory: the PSS (/proc/<pid>/smaps_rollup) summed over the reader and all its
descendants, 60 s after start. Start time (offline case): from exec until the strip shows
the page (a link-coloured pixel in the reader's window). Runs alternate between the views;
the medians are printed.

usage: pageview_bench.py QUORVEL_BINARY [runs] [seconds]
BENCH_VIEWS="web" measures one view only; QTWEBENGINE_CHROMIUM_FLAGS passes to the reader.
BENCH_CASES="offline" measures one case only. The view name "quiterss" runs that feed reader
(Debian's package) instead, on a private profile (quiterss_profile.py) holding the same feeds
as ours in each case (offline: the two unreachable ones; feeds50: the 50 loopback feeds,
updated at start-up and every minute): its resting memory beside ours in the same run.
"""
import http.server, os, shutil, socketserver, statistics, subprocess, sys, tempfile, threading, time

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

def pss_mb(pid):
    total = 0
    for p in descendants(pid):
        try:
            with open(f"/proc/{p}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024.0

def reader_windows(env):
    # The strip, and any message box of the program (they share the title's start).
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quorvel RSS Reader"],
                          env=env, capture_output=True, text=True).stdout.split()

def shows_link_colour(env, window):
    # The default style draws links in #0000FF.
    # Read from the screen (the root window): a window drawn with OpenGL reads back empty.
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                              capture_output=True, text=True).stdout
    g = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
    if not all(k in g for k in ("WIDTH", "HEIGHT", "X", "Y")):
        return False
    crop = f"{g['WIDTH']}x{g['HEIGHT']}+{g['X']}+{g['Y']}"
    shot = subprocess.run(["import", "-window", "root", "-crop", crop, "-depth", "8", "rgb:-"],
                          env=env, capture_output=True).stdout
    return b"\x00\x00\xff" in shot

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
    while view != "quiterss" and time.monotonic() - started < 30:
        if any(shows_link_colour(env, window) for window in reader_windows(env)):
            shown = time.monotonic() - started
            break
        time.sleep(0.02)
    time.sleep(max(0.0, rest - (time.monotonic() - started)))
    memory = pss_mb(reader.pid)
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
                print(f"run {run + 1} {view:5} {case:8} PSS {memory:6.1f} MB  page shown "
                      f"{'-' if shown is None else f'{shown:.2f} s'}", flush=True)
    print(f"\nmedians of {runs} runs, PSS {rest:.0f} s after start:")
    for (view, case), values in sorted(results.items()):
        times = [s for _, s in values if s is not None]
        print(f"  {view:5} {case:8} PSS {statistics.median(m for m, _ in values):6.1f} MB  page shown "
              f"{statistics.median(times) if times else float('nan'):.2f} s")
    shutil.rmtree(seed, ignore_errors=True)

main()
