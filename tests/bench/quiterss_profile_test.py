#!/usr/bin/env python3
"""The QuiteRSS profile the benchmarks make: settings, feeds and the loopback-only rule.

These tests never start QuiteRSS: each profile gets a database that already holds the two
tables the profile writes, so make_profile skips the first start.
"""
import os, sqlite3, sys, tempfile, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import quiterss_profile


def premade(folder, rows=()):
    # A database as QuiteRSS left it: its version noted, maybe feeds and news of its own.
    path = quiterss_profile.database_path(quiterss_profile.environment(folder))
    os.makedirs(os.path.dirname(path))
    with sqlite3.connect(path) as db:
        db.execute("create table info(id integer primary key, name varchar, value varchar)")
        db.execute("insert into info(name, value) values ('version', '17')")
        db.execute("create table feeds(id integer primary key, text varchar, title varchar, xmlUrl varchar, "
                   "parentId integer, rowToParent integer, updateOnStartup int, disableUpdate int)")
        db.execute("create table news(id integer primary key, feedId integer, title varchar)")
        for url in rows:
            db.execute("insert into feeds(text, xmlUrl) values ('own', ?)", (url,))
            db.execute("insert into news(feedId, title) values (1, 'old')")
    return path


def ini_path(env):
    return os.path.join(env["XDG_CONFIG_HOME"], "QuiteRss", "QuiteRss.ini")


def ini_lines(env):
    with open(ini_path(env)) as f:
        return f.read().splitlines()


class Profile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.folder = os.path.join(self.dir.name, "profile")

    def tearDown(self):
        self.dir.cleanup()

    def test_feeds_replace_what_the_database_held_in_order(self):
        path = premade(self.folder, ["https://example.org/rss.xml"])
        urls = [f"http://127.0.0.1:8080/f{n}" for n in range(3)]
        quiterss_profile.make_profile(self.folder, urls)
        with sqlite3.connect(path) as db:
            rows = db.execute("select xmlUrl, parentId, rowToParent, updateOnStartup, disableUpdate "
                              "from feeds order by rowToParent").fetchall()
            news = db.execute("select count(*) from news").fetchone()[0]
        self.assertEqual(rows, [(url, 0, n, 1, 0) for n, url in enumerate(urls)])
        self.assertEqual(news, 0)

    def test_settings_update_every_n_minutes_and_keep_its_own_lines(self):
        premade(self.folder)
        env = quiterss_profile.environment(self.folder)
        os.makedirs(os.path.dirname(ini_path(env)))
        with open(ini_path(env), "w") as f:
            f.write("[General]\nVersionDB=17\n\n[Settings]\nautoUpdatefeeds=false\ncleanDiskCache=false\n"
                    "\n[NewsHeader]\nsortBy=7\n")
        quiterss_profile.make_profile(self.folder, ["http://localhost:1/f"], minutes=3)
        lines = ini_lines(env)
        settings = lines[lines.index("[Settings]") + 1:lines.index("[NewsHeader]")]
        for line in ("autoUpdatefeeds=true", "autoUpdatefeedsStartUp=true", "autoUpdatefeedsTime=3",
                     "autoUpdatefeedsInterval=0", "updateCheckEnabled=false", "statisticsEnabled=false",
                     "cleanDiskCache=false"):
            self.assertIn(line, settings)
        self.assertEqual(sum(line.startswith("autoUpdatefeeds=") for line in lines), 1)
        self.assertIn("VersionDB=17", lines[:lines.index("[Settings]")])
        self.assertEqual(lines[lines.index("[NewsHeader]") + 1], "sortBy=7")

    def test_settings_are_written_when_the_file_is_new(self):
        premade(self.folder)
        env = quiterss_profile.make_profile(self.folder, [])
        lines = ini_lines(env)
        self.assertEqual(lines.count("[Settings]"), 1)
        self.assertIn("autoUpdatefeedsTime=1", lines)

    def test_every_folder_it_runs_with_is_inside_the_profile(self):
        premade(self.folder)
        env = quiterss_profile.make_profile(self.folder, [], base={"DISPLAY": ":7"})
        self.assertEqual(env["DISPLAY"], ":7")
        for key in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"):
            self.assertTrue(env[key].startswith(os.path.abspath(self.folder)), key)
            self.assertTrue(os.path.isdir(env[key]), key)

    def test_only_loopback_addresses_are_taken(self):
        for url in ("http://127.0.0.1:80/a", "http://127.3.4.5/a", "http://[::1]:81/a", "http://localhost/a"):
            self.assertTrue(quiterss_profile.is_loopback(url), url)
        for url in ("http://example.org/a", "http://10.0.0.1/a", "http://128.0.0.1/a", "file:///tmp/a",
                    "http://127.0.0.1.example.org/a"):
            self.assertFalse(quiterss_profile.is_loopback(url), url)
        path = premade(self.folder)
        with self.assertRaises(ValueError):
            quiterss_profile.make_profile(self.folder, ["http://127.0.0.1/a", "http://example.org/b"])
        with sqlite3.connect(path) as db:
            self.assertEqual(db.execute("select count(*) from feeds").fetchone()[0], 0)


if __name__ == "__main__":
    unittest.main()
