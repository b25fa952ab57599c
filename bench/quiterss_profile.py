#!/usr/bin/env python3
"""A private QuiteRSS profile (Debian's quiterss package) for side-by-side benchmarks.

QuiteRSS keeps its settings in $XDG_CONFIG_HOME/QuiteRss/QuiteRss.ini and its feeds in an
SQLite database, $XDG_DATA_HOME/QuiteRss/QuiteRss/feeds.db. This makes both inside one folder:
the settings turn off everything that would leave the machine (the update check and usage
statistics) and ask for every feed to be updated at start-up and then every N minutes; the
database is the one QuiteRSS creates itself on a first start (run off-screen, then stopped)
with the given feeds added as top-level rows.

Only loopback addresses are accepted: the profile is for measurements against a local server.

As a module: make_profile(folder, urls, minutes=1, base=os.environ) returns the environment to
run quiterss in: base with HOME, the XDG folders and TMPDIR pointing into the folder (TMPDIR
keeps its single-instance lock apart from any other QuiteRSS on the machine).

usage: quiterss_profile.py FOLDER URL...   (prints the environment lines to run it with)
"""
import ipaddress, os, sqlite3, subprocess, sys, time, urllib.parse

# Nothing leaves the machine; the feeds update at start-up and then every few minutes
# (autoUpdatefeedsInterval picks the unit of autoUpdatefeedsTime: 0 minutes, 1 hours).
def settings(update, minutes):
    flag = "true" if update else "false"
    return {"updateCheckEnabled": "false", "statisticsEnabled": "false", "statisticsEnabled2": "false",
            "showSplashScreen": "false", "autoUpdatefeeds": flag, "autoUpdatefeedsStartUp": flag,
            "autoUpdatefeedsTime": str(minutes), "autoUpdatefeedsInterval": "0"}


def set_settings(path, values):
    # Sets keys of the [Settings] group in QuiteRSS's ini file, keeping every other line.
    lines = []
    if os.path.exists(path):
        with open(path) as f:
            lines = f.read().splitlines()
    if "[Settings]" not in lines:
        lines += ["", "[Settings]"]
    todo = dict(values)
    out, group = [], None
    for line in lines:
        if line.startswith("["):
            if group == "[Settings]":
                out += [f"{k}={v}" for k, v in todo.items()]
                todo = {}
            group = line
        elif group == "[Settings]" and line.split("=", 1)[0] in todo:
            key = line.split("=", 1)[0]
            line = f"{key}={todo.pop(key)}"
        out.append(line)
    out += [f"{k}={v}" for k, v in todo.items()]
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def is_loopback(url):
    host = urllib.parse.urlsplit(url).hostname or ""
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def environment(folder, base=None):
    folder = os.path.abspath(folder)
    return dict(os.environ if base is None else base, HOME=folder, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                XDG_DATA_HOME=os.path.join(folder, "share"), XDG_CACHE_HOME=os.path.join(folder, "cache"),
                XDG_RUNTIME_DIR=os.path.join(folder, "run"), TMPDIR=os.path.join(folder, "tmp"))


def database_path(env):
    return os.path.join(env["XDG_DATA_HOME"], "QuiteRss", "QuiteRss", "feeds.db")


def has_schema(path):
    try:
        with sqlite3.connect(f"file:{path}?mode=ro", uri=True) as db:
            return db.execute("select value from info where name='version'").fetchone() is not None
    except sqlite3.Error:
        return False


def create_database(env, timeout=60):
    # QuiteRSS writes the database when it first starts; off-screen it needs no display.
    path = database_path(env)
    first = subprocess.Popen(["quiterss"], env=dict(env, QT_QPA_PLATFORM="offscreen"),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + timeout
    try:
        while not has_schema(path):
            if first.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"quiterss did not create {path}")
            time.sleep(0.2)
        time.sleep(1)  # let it finish the first start before it is stopped
    finally:
        first.terminate()
        try:
            first.wait(10)
        except subprocess.TimeoutExpired:
            first.kill()
            first.wait()


def add_feeds(path, urls):
    with sqlite3.connect(path) as db:
        db.execute("delete from news")
        db.execute("delete from feeds")
        for row, url in enumerate(urls):
            db.execute("insert into feeds(text, title, xmlUrl, parentId, rowToParent, updateOnStartup, "
                       "disableUpdate) values (?, ?, ?, 0, ?, 1, 0)", (f"Feed {row}", f"Feed {row}", url, row))


def make_profile(folder, urls, minutes=1, base=None):
    bad = [url for url in urls if not is_loopback(url)]
    if bad:
        raise ValueError(f"not a loopback address: {bad[0]}")
    env = environment(folder, base)
    for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"):
        os.makedirs(env[key], mode=0o700, exist_ok=True)
    ini = os.path.join(env["XDG_CONFIG_HOME"], "QuiteRss", "QuiteRss.ini")
    os.makedirs(os.path.dirname(ini), exist_ok=True)
    if not has_schema(database_path(env)):
        # The first start must not update anything: it may hold a default feed of its own.
        set_settings(ini, settings(False, minutes))
        create_database(env)
    set_settings(ini, settings(True, minutes))
    add_feeds(database_path(env), urls)
    return env


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    try:
        env = make_profile(sys.argv[1], sys.argv[2:])
    except (ValueError, RuntimeError) as error:
        sys.exit(f"quiterss_profile: {error}")
    for key in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"):
        print(f"export {key}={env[key]}")


if __name__ == "__main__":
    main()
